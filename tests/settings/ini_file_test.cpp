// INI engine: prefix matching, positions, reads, rewrites and their failures.
#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

using kz::IniReadInt, kz::IniReadString, kz::IniWriteString;

constexpr char kPath[] = "\\BACKUP\\KZ_Config\\test.ini";

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        kztest::ResetAllState();
        root.Write("\\BACKUP\\KZ_Config\\.keep", "");
    }
    void TearDown() override { KzInjectWriteFailure(-1); }

    std::string Read(const char* section, const char* key, size_t size = 64) {
        char out[256] = {};
        if (!IniReadString(section, key, out, size, nullptr, kPath)) return "<none>";
        return out;
    }

    kztest::TempRoot root;
};

TEST_F(IniFileTest, IniReadString_FollowsPrefixAndLineRules) {
    const struct {
        const char *name, *text, *section, *key, *expected;   // value read, or "<none>"
    } cases[] = {
        {"header prefix of section, key not a prefix", "[Microphone]\nMicrophone=1\n", "MicrophoneGian",
         "InterMicrophoneGain", "<none>"},
        {"header and key both prefixes", "[Microphone]\nMicrophone=1\n", "MicrophoneGian", "MicrophoneMode", "1"},
        {"short key text matches longer key", "k=0\n[AutoAnswer]\nAuto=5\n", "AutoAnswer", "AutoAnswer", "5"},
        {"space belongs to the key text", "[AutoAnswer]\nAutoAnswer =0\n", "AutoAnswer", "AutoAnswer", "<none>"},
        {"leading space of value kept, value may hold =", "[PinCode]\nPinCode= 1=2\n", "PinCode", "PinCode", " 1=2"},
        {"CR only, first matching line wins", "[S]\rk=7\rk=8\r", "S", "k", "7"},
        {"comment and = lines skipped", "[S]\n;k=9\n=k\nk=3\n", "S", "k", "3"},
        {"header must start its line, and end with ]", " [S]\nk=1\n[S\nk=2\n", "S", "k", "<none>"},
        {"empty header matches every section, value at end of text", "[]\nk=6", "Anything", "k", "6"},
        {"case-sensitive; later header searched, not another's keys", "[a]\nk=9\n[A]\nx=1\n[B]\nk=2\n[A]\nk=5\n",
         "A", "k", "5"},
        {"white space after header skipped", "[S]\n\n \tk=8\n", "S", "k", "8"},
        {"leading spaces belong to later key texts", "[S]\nx=1\n  k=8\n", "S", "k", "<none>"},
    };
    for (const auto& c : cases) {
        root.Write(kPath, c.text);
        EXPECT_EQ(Read(c.section, c.key), c.expected) << c.name;
    }
}

// The result, then the buffer as the read leaves it and one byte past it ('x' untouched).
std::string ReadRaw(const char* key, size_t size, const char* dflt, const char* path = kPath) {
    char out[16];
    std::memset(out, 'x', sizeof out);
    int found = IniReadString("S", key, out, size, dflt, path);
    return std::to_string(found) + ":" + std::string(out, size + 1);
}

TEST_F(IniFileTest, IniReadString_CutsValueAndAppliesDefault) {
    root.Write(kPath, "[S]\nk=987654\n");
    EXPECT_EQ(ReadRaw("k", 4, "dflt"), std::string("1:987\0x", 7));
    EXPECT_EQ(ReadRaw("missing", 6, "ab"), std::string("0:ab\0\0\0\0x", 9));
    EXPECT_EQ(ReadRaw("missing", 4, "toolong"), std::string("0:too\0x", 7));
    EXPECT_EQ(ReadRaw("k", 4, nullptr, "\\no\\such.ini"), "0:xxxxx") << "no default leaves the buffer";
    root.Write(kPath, "[General]\nCurrIndex=3\nBad=abc\n");
    EXPECT_EQ(IniReadInt("General", "CurrIndex", 255, kPath), 3);
    EXPECT_EQ(IniReadInt("General", "Bad", 255, kPath), 0);
    EXPECT_EQ(IniReadInt("General", "Missing", 255, kPath), 255);
}

TEST_F(IniFileTest, IniWriteString_Table) {
    const struct {
        const char* what;
        const char* before;   // nullptr: no file
        const char *section, *key, *value;
        std::string after;
    } rows[] = {
        {"missing file: one section", nullptr, "General", "CurrIndex", "1", "[General]\nCurrIndex=1\n"},
        {"empty file: no leading line end", "", "S", "k", "v", "[S]\nk=v\n"},
        {"new section after an empty line", "[Device0]\nid=0\n", "Device2", "id", "2",
         "[Device0]\nid=0\n\n[Device2]\nid=2\n"},
        {"new key first in the section its name starts", "[Microphone]\nMicrophone=1\n", "MicrophoneGian",
         "InterMicrophoneGain", "8", "[Microphone]\nInterMicrophoneGain=8\nMicrophone=1\n"},
        {"only the value replaced", "; head\r\n[PinCode]\r\nPinCode=1234\r\n; tail\r\n[X]\r\ny=1\r\n",
         "PinCode", "PinCode", "98765", "; head\r\n[PinCode]\r\nPinCode=98765\r\n; tail\r\n[X]\r\ny=1\r\n"},
        {"emptied value", "[X]\r\ny=1\r\n", "X", "y", "", "[X]\r\ny=\r\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        KzDeleteFile(kPath);
        if (r.before) root.Write(kPath, r.before);
        EXPECT_EQ(IniWriteString(r.section, r.key, r.value, kPath), 1);
        EXPECT_EQ(root.Read(kPath), r.after);
        EXPECT_EQ(Read(r.section, r.key), r.value);
    }
    EXPECT_EQ(IniWriteString("General", "CurrIndex", "1", "\\NoSuchDir\\x.ini"), 0);
    EXPECT_FALSE(root.Exists("\\NoSuchDir"));
}

TEST_F(IniFileTest, IniWriteString_LineEndsInValueCannotAddKeysOrSections) {
    root.Write(kPath, "[Device0]\nid=0\nname=phone\n");
    EXPECT_EQ(IniWriteString("Device1", "name", "x\n[Device0]\nid=4\r\n", kPath), 1);
    EXPECT_EQ(root.Read(kPath), "[Device0]\nid=0\nname=phone\n\n[Device1]\nname=x [Device0] id=4  \n");
    EXPECT_EQ(IniReadInt("Device0", "id", 255, kPath), 0);
}

TEST_F(IniFileTest, IniWriteString_RefusesResultThatDoesNotFit) {
    std::string big = "[S]\nk=1\n;" + std::string(kz::kIniMaxText - 11, 'c') + "\n";
    ASSERT_EQ(big.size(), kz::kIniMaxText - 1);
    root.Write(kPath, big);
    EXPECT_EQ(IniWriteString("S", "k", "22", kPath), 1) << "exactly kIniMaxText bytes still fit";
    EXPECT_EQ(IniWriteString("S", "k", "333", kPath), 0);
    EXPECT_EQ(IniWriteString("T", "k", "1", kPath), 0);
    EXPECT_EQ(root.Read(kPath).size(), kz::kIniMaxText);
    EXPECT_EQ(Read("S", "k"), "22");

    std::string huge = "[S]\nk=first\n";   // a file the buffer cannot hold: its first MiB is read
    huge += std::string(kz::kIniMaxText - 3 - huge.size(), ';') + "\nz=12\ny=2\n";   // the buffer ends after "z="
    root.Write(kPath, huge);
    EXPECT_EQ(Read("S", "k") + "|" + Read("S", "z") + "|" + Read("S", "y"), "first||<none>");
    EXPECT_EQ(IniWriteString("S", "k", "4", kPath), 0);
    EXPECT_EQ(root.Read(kPath), huge);
}

// Its worth is mostly under the thread sanitizer; without it a lost update still shows.
TEST_F(IniFileTest, IniWriteString_ConcurrentWritersLoseNoUpdate) {
    auto key = [](int t, int k) { return "t" + std::to_string(t) + "k" + std::to_string(k) + "_"; };
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&key, t] { for (int k = 0; k < 8; ++k) IniWriteString("S", key(t, k).c_str(), "1", kPath); });
    for (auto& w : writers) w.join();
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 8; ++k) EXPECT_EQ(Read("S", key(t, k).c_str()), "1") << key(t, k);
}

}  // namespace
