// A test that starts with the link up (the module's side of the handshake
// done), nothing written yet, and every subsystem's state reset around it.
#pragma once
#include <gtest/gtest.h>

#include "support/link_support.h"
#include "support/test_support.h"

namespace kztest {

class LinkUpTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetAllState();
        EstablishLink();
        wire.Clear();
    }
    void TearDown() override { ResetAllState(); }
    UartCapture wire;
};

}  // namespace kztest
