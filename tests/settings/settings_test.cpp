// Settings: two-level reads, reports, set operations, PIN and test-mode codes.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "channel/module_ids.h"
#include "channel/requests.h"
#include "events/calls.h"
#include "settings/ini_file.h"
#include "support/test_support.h"

namespace {

constexpr char kBtSetting[] = "\\BACKUP\\KZ_Config\\BTSetting.ini";

std::string BluetoothIni() {
    char path[kz::kIniPathSize];
    kz::GetBluetoothIniPath(path);
    return path;
}

// What the user was asked (text|caption|style) and which programs were started.
struct DialogLog {
    int shown = 0, started = 0, answer = KZ_IDNO;
    std::string box, program;
} g_dialogs;

int AnswerBox(const char* text, const char* caption, uint32_t style, void*) {
    ++g_dialogs.shown;
    g_dialogs.box = std::string(text) + "|" + caption + "|" + std::to_string(style);
    return g_dialogs.answer;
}

int StartProgram(const char* unitPath, void*) {
    ++g_dialogs.started;
    g_dialogs.program = unitPath;
    return 1;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_dialogs = DialogLog{};
        KzSetMessageBoxHandler(&AnswerBox, nullptr);
        KzSetProcessHook(&StartProgram, nullptr);
        root.Write("\\BACKUP\\KZ_Config\\.keep", "");
    }
    void TearDown() override {
        KzSetMessageBoxHandler(nullptr, nullptr);
        KzSetProcessHook(nullptr, nullptr);
    }

    std::string Stored(const char* section, const char* key) {
        char out[64] = {};
        if (!kz::IniReadString(section, key, out, sizeof out, nullptr, kBtSetting)) return "<none>";
        return out;
    }
    // Each report to the host as code/param/len text, in order.
    std::vector<std::string> Reports() {
        std::vector<std::string> out;
        for (const auto& n : host.Notifications())
            out.push_back(std::to_string(n.code) + "/" + std::to_string(n.param) + "/" + std::to_string(n.len) + " " +
                          n.Text());
        return out;
    }
    std::string Pin() {
        uint8_t bytes[4];
        kz::GetPinBytes(bytes);
        return std::string(reinterpret_cast<char*>(bytes), 4);
    }

    // Resets before the recorder installs its tap.
    struct StateReset {
        StateReset() { kztest::ResetAllState(); }
    } reset;
    kztest::TempRoot root;
    kztest::HostWindows host;
    kztest::SubmitRecorder sent;
};

// BTSetting.ini, then the factory Bluetooth.ini (a stored 2 falls through), then the default.
TEST_F(SettingsTest, Load_UserValueOrFactoryValueOrDefault_ReportedAndApplied) {
    const struct {
        const char *what, *user, *factory, *fixed, *name;
        std::vector<std::string> reports;   // code/param/len text, in load order
        int autoConnect, autoAnswer, micMode, micGain;
    } rows[] = {
        {"no files", nullptr, nullptr, nullptr, "Q7MX_TARN", {"81/0/4 4706", "80/0/0 ", "88/1/0 ", "82/0/0 ", "83/8/0 "}, 1, 0, 0, 8},
        {"user values, 2 falls through",
         "[AutoAnswer]\nAutoAnswer=0\n[PinCode]\nPinCode=2\n[Microphone]\nMicrophone=1\n[AutoConnect]\nAutoConnect=2\n",
         "[PinCode]\r\nPinCode=1111\r\n[BluetoothName]\r\nBluetoothName=Car Kit\r\n",
         "[AutoConnect]\nAutoConnect=5\n", "Car Kit",   // auto-connect's factory file: a fixed path
         {"81/0/4 1111", "80/5/0 ", "88/0/0 ", "82/1/0 ", "83/12/0 "}, 0, 1, 1, 12},   // 12: the external default
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.user) root.Write(kBtSetting, r.user);
        if (r.factory) root.Write(BluetoothIni(), r.factory);
        if (r.fixed) root.Write(kz::kFixedBluetoothIniPath, r.fixed);
        host.Clear();
        kz::LoadPinCode();
        kz::LoadAutoConnect();
        kz::LoadAutoAnswer();
        kz::LoadMicrophoneMode();
        kz::LoadMicrophoneGain();
        EXPECT_EQ(Reports(), r.reports);
        EXPECT_EQ(kz::g_bAutoConnect, r.autoConnect);
        EXPECT_EQ(kz::g_bAutoAnswer, r.autoAnswer);
        EXPECT_EQ(kz::g_nMicMode, r.micMode);
        EXPECT_EQ(kz::g_nMicGain, r.micGain);
        sent.Clear();
        kz::SendLocalDeviceName();   // the name is read each time
        const auto name = sent.Messages().at(0).bytes;
        EXPECT_EQ(sent.Ids(), (std::vector<uint16_t>{kz::msgid::kSetLocalName}));
        EXPECT_NE(std::string(name.begin(), name.end()).find(r.name), std::string::npos);
    }
}

// Test-mode codes are PINs unless Bluetooth.ini allows it and the user accepts; then the tool starts.
TEST_F(SettingsTest, SetPinCode_TestModeCodes) {
    root.Write(BluetoothIni(), "[TestMode]\nTestMode=0\n");
    kz::SetPinCode("7391");
    kz::SetPinCode("5728");
    EXPECT_EQ(g_dialogs.shown + g_dialogs.started, 0);
    EXPECT_EQ(Stored("PinCode", "PinCode"), "5728");

    root.Write(BluetoothIni(), "[TestMode]\nTestMode=1\n");
    g_dialogs.answer = KZ_IDNO;
    kz::SetPinCode("7391");
    EXPECT_EQ(g_dialogs.shown, 1);
    EXPECT_EQ(Stored("PinCode", "PinCode"), "7391");
    EXPECT_EQ(kz::g_bTestModeOn, 0);

    KzDeleteFile(kBtSetting);
    host.Clear();
    g_dialogs.answer = KZ_IDYES;
    kz::SetPinCode("7391");
    EXPECT_EQ(g_dialogs.box, "Enter Test Mode|Test Mode|" + std::to_string(KZ_MB_YESNO));
    EXPECT_EQ(kz::g_bTestModeOn, 1);
    kz::SetPinCode("5728");
    kz::SetPinCode("5728");
    EXPECT_EQ(g_dialogs.started, 2);
    EXPECT_EQ(g_dialogs.program, "NandFlash\\Application\\TestMode\\BtTestMode.exe");
    EXPECT_EQ(Stored("PinCode", "PinCode"), "<none>") << "codes are never stored";
    EXPECT_TRUE(host.Codes().empty());
}

// Both are stored inverted from what they apply.
TEST_F(SettingsTest, SetAutoConnectAndAutoAnswer_StoreValueAndApply) {
    for (int v : {1, 0}) {
        kz::SetAutoConnect(v);
        kz::SetAutoAnswer(v == 0);
        EXPECT_EQ(Stored("AutoConnect", "AutoConnect") + Stored("AutoAnswer", "AutoAnswer"), v ? "11" : "00");
        EXPECT_EQ(std::to_string(kz::g_bAutoConnect) + std::to_string(kz::g_bAutoAnswer), v ? "00" : "11");
    }
    EXPECT_TRUE(host.Codes().empty());
}

TEST_F(SettingsTest, SetMicrophone_GainUnderTheModesKey_ModeRemutesOnlyWhenAskedAndMuted) {
    root.Write(kBtSetting, "[MicrophoneGian]\nInterMicrophoneGain=3\n");
    kz::g_nMicMode = 1;
    kz::SetMicrophoneGain(10);
    EXPECT_EQ(kz::g_nMicGain, 10);
    kz::g_nMicMode = 3;   // no key of its own: the module still gets the gain
    kz::SetMicrophoneGain(6);
    EXPECT_EQ(root.Read(kBtSetting), "[MicrophoneGian]\nExterMicrophoneGain=10\nInterMicrophoneGain=3\n");
    EXPECT_EQ(sent.Ids(), (std::vector<uint16_t>{kz::msgid::kSetMicGain, kz::msgid::kSetMicGain}));
    std::string loaded;   // each mode's gain as loaded from its key
    for (int mode : {0, 1, 2}) {
        host.Clear();
        kz::g_nMicMode = mode;
        kz::LoadMicrophoneGain();
        for (const auto& r : Reports()) loaded += r + ",";
    }
    EXPECT_EQ(loaded, "83/3/0 ,83/10/0 ,83/0/0 ,");
    using Ids = std::vector<uint16_t>;   // the mode is sent, and the mute again only when asked and muted
    for (auto [remute, muted] : {std::pair{true, 1}, {true, 0}, {false, 1}}) {
        sent.Clear();
        kz::g_bMicMuted = uint8_t(muted);
        kz::SetMicrophoneMode(257, remute);
        EXPECT_EQ(sent.Ids(), (remute && muted ? Ids{kz::msgid::kSetMicMode, kz::msgid::kSetMicVolume}
                                               : Ids{kz::msgid::kSetMicMode})) << remute << muted;
        EXPECT_EQ(std::to_string(kz::g_nMicMode) + "|" + Stored("Microphone", "Microphone"), "1|257") << "low 8 bits";
    }
}

// Files up to 1 MiB are read and written whole; a refused write is told to the host (89).
TEST_F(SettingsTest, LargeFiles_ReadAndWrittenUpToTheBound_RefusalToldToTheHost) {
    for (size_t padding : {size_t(100 * 1024), kz::kIniMaxText}) {
        SCOPED_TRACE(padding);
        const bool fits = padding < kz::kIniMaxText;
        host.Clear();
        root.Write(kBtSetting, "[Microphone]\r\nMicrophone=1\r\n;" + std::string(padding, 'x') +
                                   "\r\n[PinCode]\r\nPinCode=2580\r\n");
        kz::LoadPinCode();
        EXPECT_EQ(Pin() == "2580", fits);   // past the first 16 KB, not past the first MiB
        host.Clear();
        kz::SetPinCode("139745");
        EXPECT_EQ(Stored("PinCode", "PinCode") == "1397", fits);
        using Texts = std::vector<std::string>;
        EXPECT_EQ(Reports(), (fits ? Texts{"81/0/4 1397"} : Texts{"89/1/7 PinCode", "81/0/4 1397"}));
    }
    kz::SetPinCode("12");   // a short one padded with zero bytes
    EXPECT_EQ(Pin(), std::string("12\0\0", 4));
    EXPECT_EQ(host.Notifications().back().data, (std::vector<uint8_t>{'1', '2', 0, 0}));
}

}  // namespace
