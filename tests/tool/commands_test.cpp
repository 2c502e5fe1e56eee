#include "commands.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "generated_files.h"
#include "kztarn_process.h"
#include "message_names.h"

namespace kztool {
namespace {

TEST(NearestCommand_Typos, SuggestTheIntendedCommand) {
    struct Case {
        const char* typed;
        const char* expected;
    };
    const Case cases[] = {
        {"dail", "dial"},       {"hangpu", "hangup"},  {"conect", "connect"},
        {"phonbook", "phonebook"}, {"micgian", "micgain"}, {"autoans", "autoanswer"},
        {"xyzzyplugh", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(NearestCommand(Commands(), c.typed), c.expected) << c.typed;
    EXPECT_EQ(NearestCommand(PhoneCommands(), "rnig"), "ring");
}

TEST(SplitLine_Quotes, KeepSpacesInsideQuotes) {
    EXPECT_EQ(SplitLine("phone track \"So What\" \"Miles Davis\"  x"),
              (Args{"phone", "track", "So What", "Miles Davis", "x"}));
    EXPECT_EQ(SplitLine("  "), Args{});
    EXPECT_EQ(SplitLine("dial \"\""), (Args{"dial", ""}));
}

TEST(Commands_Table, CoversEveryExport) {
    const std::string help = HelpText("");
    const char* exports[] = {
        "KZ_BT_DeviceInit", "KZ_BT_CloseDevice", "KZ_BT_InquiryDevice", "KZ_BT_PairRemoteDevice",
        "KZ_BT_ConnectPairedDevice", "KZ_BT_PairingRetry", "KZ_BT_DisConnectPairedDevice",
        "KZ_BT_DisconnectA2DP", "KZ_BT_DeletePairedDevice", "KZ_BT_GetPairedDevices", "KZ_BT_Dial",
        "KZ_BT_Answer", "KZ_BT_Hangup", "KZ_BT_End1stCall", "KZ_BT_Hold1stCall", "KZ_BT_SwitchCalls",
        "KZ_BT_EndWaitingCall", "KZ_BT_DTMF", "KZ_BT_AudioTransfer", "KZ_BT_SetPhoneMute",
        "KZ_BT_SetMute", "KZ_BT_AVRCPCmd", "KZ_BT_SetAudioService", "KZ_BT_GetPhonBookSize",
        "KZ_BT_GetPhonebookData", "KZ_BT_GetContactsFromFile", "KZ_BT_ResetATCommand",
        "KZ_BT_SetInitialValue", "KZ_BT_SetPinCode", "KZ_BT_SetLocalDeviceName", "KZ_BT_SetAutoAnswer",
        "KZ_BT_SetAutoConnect", "KZ_BT_SetMicrophoneMode", "KZ_BT_GetMicrophoneMode",
        "KZ_BT_SetMicrophoneGain", "KZ_BT_GetMicrophoneGain",
    };
    for (const char* e : exports) EXPECT_NE(help.find(e), std::string::npos) << e;
    // Names are unique, usage and help are given.
    std::vector<std::string> names;
    for (const auto& c : Commands()) {
        names.push_back(c.name);
        EXPECT_NE(std::string(c.help), "") << c.name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

TEST(ArgumentWords_Completion, OffersTheChoicesOfTheArgument) {
    EXPECT_EQ(ArgumentWords("audio "), (std::vector<std::string>{"car", "phone"}));
    EXPECT_EQ(ArgumentWords("micmode "), (std::vector<std::string>{"internal", "external"}));
    EXPECT_EQ(ArgumentWords("phonebook size "),
              (std::vector<std::string>{"contacts", "received", "dialed", "missed"}));
    EXPECT_TRUE(ArgumentWords("dial ").empty());
    EXPECT_TRUE(ArgumentWords("nonsense ").empty());
    const auto phone = ArgumentWords("phone ");
    EXPECT_NE(std::find(phone.begin(), phone.end(), "ring"), phone.end());
    EXPECT_EQ(ArgumentWords("phone connect "), (std::vector<std::string>{"hfp", "a2dp", "avrcp", "pbap"}));
}

}  // namespace
}  // namespace kztool

namespace kztool {
namespace {

// The completion, the manual and the dissector's names come from the tables,
// so nothing in them can be missing or stale.
TEST(GeneratedFiles_FromTheTables, NameEveryCommandAndMessage) {
    const std::string completion = BashCompletion();
    std::string manual = ManPage("9.9");
    for (size_t at; (at = manual.find("\\-")) != std::string::npos;) manual.erase(at, 1);   // roff's minus
    for (const auto* table : {&Commands(), &PhoneCommands()})
        for (const auto& c : *table) {
            EXPECT_NE(completion.find(std::string(" ") + c.name + " "), std::string::npos) << c.name;
            EXPECT_NE(manual.find(UsageLine(c)), std::string::npos) << c.name;
        }
    EXPECT_NE(manual.find("dial <NUMBER>"), std::string::npos) << "required arguments are marked";
    const std::string lua = LuaMessageNames();
    for (uint16_t id : {1, 82, 512}) EXPECT_NE(lua.find("= \"" + std::string(RequestName(id)) + "\""), std::string::npos);
    EXPECT_NE(lua.find("[116] = \"IND waiting/held number\""), std::string::npos);
    const auto version = kztooltest::RunKztarn({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("kztarn ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace kztool
