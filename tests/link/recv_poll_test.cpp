// The benchmark switch of the receive thread: only a sane interval turns the
// fixed-period poll on; anything else keeps the wait for input.
#include <gtest/gtest.h>

#include <cstdlib>

#include "link/bcsp_link.h"

namespace {

TEST(RecvPollInterval_FromEnvironment, OnlySaneValuesSwitchPollingOn) {
    struct Case {
        const char* value;   // nullptr = unset
        uint32_t expected;
    };
    const Case cases[] = {
        {nullptr, 0}, {"15", 15}, {"1", 1}, {"1000", 1000}, {"0", 0},
        {"-15", 0},   {"1001", 0}, {"abc", 0}, {"", 0},
    };
    for (const Case& c : cases) {
        if (c.value) {
            setenv(kz::kRecvPollEnv, c.value, 1);
        } else {
            unsetenv(kz::kRecvPollEnv);
        }
        EXPECT_EQ(kz::RecvPollIntervalMs(), c.expected) << (c.value ? c.value : "(unset)");
    }
    unsetenv(kz::kRecvPollEnv);
}

}  // namespace
