// A test of the library's frame: every subsystem's state reset, a temporary
// head-unit root, and the requests handed to the link recorded.
#pragma once
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kztest {

// Resets before the members are built: the reset removes the submit tap
// that the recorder installs.
struct ResetFirst {
    ResetFirst() { ResetAllState(); }
};

class FrameTest : public ::testing::Test, private ResetFirst {
protected:
    TempRoot root;
    SubmitRecorder recorder;
};

}  // namespace kztest
