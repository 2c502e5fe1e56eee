// Text commands that script the simulator.
#include "sim_script.h"

#include <gtest/gtest.h>

#include "phone.h"

namespace kzsim {
namespace {

TEST(SimScript_Run, CommandsDriveThePhone) {
    ModuleSimulator sim;   // not started: the phone's messages just queue
    EXPECT_EQ(RunSimCommand(sim, "ring +4912345"), "");
    EXPECT_EQ(sim.phone().callSetup(), 1);
    EXPECT_EQ(RunSimCommand(sim, "answer"), "");
    EXPECT_TRUE(sim.phone().callActive());
    EXPECT_EQ(RunSimCommand(sim, "  hangup  "), "");
    EXPECT_FALSE(sim.phone().callActive());
    EXPECT_EQ(RunSimCommand(sim, "connect a2dp"), "");
    EXPECT_TRUE(sim.phone().connected(Profile::A2dp));
    EXPECT_EQ(RunSimCommand(sim, ""), "");
}

TEST(SimScript_Run, ReportsUnknownCommandsAndMissingArguments) {
    ModuleSimulator sim;
    EXPECT_NE(RunSimCommand(sim, "fly").find("unknown command"), std::string::npos);
    EXPECT_NE(RunSimCommand(sim, "ring").find("usage: ring"), std::string::npos);
    EXPECT_NE(RunSimCommand(sim, "connect bt").find("unknown profile"), std::string::npos);
    EXPECT_NE(RunSimCommand(sim, "help").find("hangup"), std::string::npos);
    EXPECT_NE(RunSimCommand(sim, "status").find("link down"), std::string::npos);
}

}  // namespace
}  // namespace kzsim
