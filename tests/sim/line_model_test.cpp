// The simulated line's faults, which the noisy-line tests rely on: as many
// as asked for, and the same ones for the same seed however the stream is
// cut.
#include "line_model.h"

#include <gtest/gtest.h>


namespace kzsim {
namespace {

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

TEST(LineModel_Faults, RatesAsConfigured_SameSeedSameFaultsHoweverTheStreamIsCut) {
    const FaultRates rates{0.05, 0.02, 0.01};
    LineModel whole(7, rates), pieces(7, rates), other(8, rates);
    const auto in = Pattern(100000);
    std::vector<uint8_t> joined;
    for (size_t at = 0; at < in.size(); at += 37) {
        const auto part = pieces.Transfer(std::vector<uint8_t>(in.begin() + at, in.begin() + std::min(in.size(), at + 37)));
        joined.insert(joined.end(), part.begin(), part.end());
    }
    const auto out = whole.Transfer(in);
    EXPECT_EQ(out, joined);
    EXPECT_NE(out, other.Transfer(in));
    const FaultCounts c = whole.Counts();
    EXPECT_NEAR(c.corrupted / 1e5, 0.05 * 0.98, 0.005);
    EXPECT_NEAR(c.dropped / 1e5, 0.02, 0.003);
    EXPECT_NEAR(c.duplicated / 1e5, 0.01 * 0.98, 0.002);
    EXPECT_EQ(out.size(), in.size() - c.dropped + c.duplicated);
}

}  // namespace
}  // namespace kzsim
