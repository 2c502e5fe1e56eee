// UTF-8 <-> UTF-16 conversion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kz_platform.h"

namespace {

constexpr uint16_t kSentinel16 = 0xA5A5;
constexpr char kSentinel8 = '\x5A';

// Converts into a buffer of cap units followed by sentinels, which must stay.
std::u16string ToUtf16(const std::string& in, size_t cap = 64, size_t inLen = 0) {
    std::vector<uint16_t> out(cap + 4, kSentinel16);
    size_t n = KzUtf8ToUtf16(in.data(), inLen ? inLen : in.size(), out.data(), cap);
    EXPECT_EQ(out[n], 0u);
    for (size_t i = cap; i < out.size(); ++i) EXPECT_EQ(out[i], kSentinel16) << "overrun at " << i;
    return std::u16string(out.begin(), out.begin() + n);
}

std::string ToUtf8(const std::u16string& in, size_t cap = 64) {
    std::vector<char> out(cap + 4, kSentinel8);
    size_t n = KzUtf16ToUtf8(reinterpret_cast<const uint16_t*>(in.data()), in.size(), out.data(), cap);
    EXPECT_EQ(out[n], '\0');
    for (size_t i = cap; i < out.size(); ++i) EXPECT_EQ(out[i], kSentinel8) << "overrun at " << i;
    return std::string(out.data(), n);
}

TEST(Utf8ToUtf16, ValidAndInvalidInputWithinCapacityUpToNul) {
    const struct {
        std::string in;
        std::u16string out;
        size_t cap = 64;
    } cases[] = {
        {"Anna +49", u"Anna +49"},
        {"M\xC3\xBCller", u"Müller"},
        {"\xE2\x82\xAC", u"€"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},           // surrogate pair
        {"\xEE\x80\x80", u"\uE000"},                     // first lead byte of its row
        {"\xF1\x80\x80\x80", u"\U00040000"},           // first lead byte of the middle row
        {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // overlong 4-byte
        {"a\xFF" "b", u"a\uFFFDb"},                     // invalid byte
        {"\x80", u"\uFFFD"},                            // stray continuation
        {"\xC3", u"\uFFFD"},                            // truncated sequence
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                  // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},        // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82" "A", u"\uFFFD" "A"},                // cut short, next char kept
        {"\xED\x9F\xBF", u"\uD7FF"},                     // the row's second-byte range, not the third's
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},            // highest code point
        {"abcdef", u"abc", 4},
        {"ab\xF0\x9F\x98\x80", u"ab", 4},                 // a pair is never split
        {"abc", u"", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(ToUtf16(c.in, c.cap), c.out) << c.in;
    EXPECT_EQ(ToUtf16(std::string("hi\0there", 8), 8, static_cast<size_t>(-1)), u"hi");
    uint16_t untouched = kSentinel16;
    EXPECT_EQ(KzUtf8ToUtf16("abc", 3, &untouched, 0), 0u);
    EXPECT_EQ(untouched, kSentinel16);
}

TEST(Utf16ToUtf8, ValidLoneSurrogatesCapacityAndRoundTrip) {
    EXPECT_EQ(ToUtf8(u"Müller €"), "M\xC3\xBCller \xE2\x82\xAC");
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(u"ab\u20AC", 5), "ab");   // a character is never split
    EXPECT_EQ(ToUtf8(u"abcdef", 4), "abc");
    const std::string text = "Anruf von J\xC3\xBCrgen \xF0\x9F\x93\x9E";
    EXPECT_EQ(ToUtf8(ToUtf16(text)), text);
}

}  // namespace
