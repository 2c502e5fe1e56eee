// Debug trace and kernel debug output go to standard error.
#include <gtest/gtest.h>

#include <string>

#include "kz_platform.h"

namespace {

// Standard error as fn writes it.
template <class Fn>
std::string CaptureStderr(Fn fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

TEST(Trace, OffWritesNothing_OnWritesOneStampedLine_DebugPrintEndsBoundedLines) {
    KzSetTrace(0);
    EXPECT_EQ(KzTraceEnabled(), 0);
    EXPECT_EQ(CaptureStderr([] { KzTrace("hidden %d", 1); }), "");
    KzSetTrace(1);
    EXPECT_EQ(KzTraceEnabled(), 1);
    std::string line = CaptureStderr([] { KzTrace("SendNextCmd id=%u", 82u); });
    KzSetTrace(0);
    EXPECT_NE(line.find(" ms] ["), std::string::npos) << line;
    EXPECT_EQ(line.find("SendNextCmd id=82\n"), line.size() - 18) << "exactly one line: " << line;
    EXPECT_EQ(CaptureStderr([] { KzDebugPrint("Create E2P failed!  Error code=(%d)\n", 2); }) +
                  CaptureStderr([] { KzDebugPrint("Write e2prom fails!"); }),
              "Create E2P failed!  Error code=(2)\nWrite e2prom fails!\n");
    std::string out = CaptureStderr([] { KzDebugPrint("%s", std::string(3000, 'x').c_str()); });
    EXPECT_EQ(out.back(), '\n');   // cut to one bounded line, still terminated
    EXPECT_LT(out.size(), 3000u);
}

}  // namespace
