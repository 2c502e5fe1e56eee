// Paired-device registry and link-key store: files on disk, slots in memory,
// notifications.
#include "channel/module_ids.h"
#include "settings/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "events/connection.h"
#include "events/inquiry.h"
#include "settings/ini_file.h"
#include "support/test_support.h"

namespace {

constexpr char kTarnIni[] = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr char kTarnDat[] = "\\BACKUP\\KZ_TARN\\tarn.dat";
const std::string kNoKey(32, 'f');

std::string Section(int slot, const std::string& name, const std::string& address,
                    const std::string& key, int pb) {
    return "[Device" + std::to_string(slot) + "]\nid=" + std::to_string(slot) + "\nname=" + name +
           "\naddress=" + address + "\nkey=" + key + "\npb=" + std::to_string(pb) + "\n";
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

std::string Hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

kz::LinkKeyEntry Entry(uint8_t a, uint8_t k) {
    kz::LinkKeyEntry e;
    std::memset(e.address, a, sizeof e.address);
    std::memset(e.key, k, sizeof e.key);
    return e;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { root.Write("\\BACKUP\\KZ_Config\\BlueTooth\\.keep", ""); }
    void TearDown() override { KzInjectWriteFailure(-1); }

    // Makes g_CurrDevice the phone that has just connected.
    void Connect(uint8_t addressByte, const char* name, uint8_t keyByte = 0xFF) {
        kz::g_bPairMode = 0;
        std::memset(&kz::g_CurrDevice, 0, sizeof kz::g_CurrDevice);
        std::memset(kz::g_CurrDevice.address, addressByte, 6);
        std::memset(kz::g_CurrDevice.key, keyByte, 16);
        std::strncpy(kz::g_CurrDevice.name, name, 31);
        kz::g_CurrDevice.id = 255;
        kz::g_CurrDevice.pb = 255;
    }

    void WriteFiveSlots() {
        std::string ini;
        for (int k = 0; k < 5; ++k) {
            std::string addr(12, char('a' + k));
            ini += Section(k, "Phone" + std::to_string(k), addr, kNoKey, 255);
        }
        root.Write(kTarnIni, ini);
    }

    std::vector<kztest::Notification> Notes(uint32_t code) {
        std::vector<kztest::Notification> out;
        for (auto& n : host.Notifications())
            if (n.code == code) out.push_back(n);
        return out;
    }

    // Resets before the recorder installs its tap, and at the end frees what
    // a test left in the lists (the leak checker looks at exit).
    struct StateReset {
        StateReset() { kztest::ResetAllState(); }
        ~StateReset() { kztest::ResetAllState(); }
    } reset;
    kztest::TempRoot root;
    kztest::HostWindows host;
    kztest::SubmitRecorder sent;
};

// -------------------------------------------------------------------- loading

TEST_F(RegistryTest, LoadPairedDevices_NoTarnIniOrCurrIndexOfNoUsedSlot_NothingCurrent) {
    const char* currents[] = {nullptr, "3", "9", "-1", "abc"};   // nullptr: no tarn.ini
    for (const char* current : currents) {
        SCOPED_TRACE(current ? current : "no tarn.ini");
        KzDeleteFile(kTarnIni);
        if (current) root.Write(kTarnIni, Section(1, "A", "001122334455", kNoKey, 255) + "[General]\nCurrIndex=" + current + "\n");
        kz::g_CurrConnectIndex = 1;
        host.Clear();
        kz::LoadPairedDevices();
        EXPECT_EQ(kz::g_CurrConnectIndex, 255);
        EXPECT_EQ(host.Codes().size(), current ? 1u : 0u);
    }
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(4, &r));
    EXPECT_EQ(r.id, 255);
    EXPECT_FALSE(kz::GetSlot(5, &r));
    EXPECT_TRUE(kz::HasFreeSlot());
}

TEST_F(RegistryTest, LoadPairedDevices_ReportsUsedSlotsAndRestoresCurrent) {
    root.Write(kTarnIni, Section(1, "Anna", "A1B2C3D4E5F6", std::string(32, '1'), 1) +
                             Section(3, "Ben", " 0a0b0c0d0e0f\t", " " + std::string(32, '2') + " ", 255) +
                             "[General]\nCurrIndex=3\n");
    kz::LoadPairedDevices();

    auto notes = Notes(KZ_NOTIFY_DEVICE_INFO);
    ASSERT_EQ(notes.size(), 2u);
    DeviceInfoRecord info;
    std::memcpy(&info, notes[0].data.data(), sizeof info);
    EXPECT_EQ(notes[0].param, 0u);
    EXPECT_EQ(notes[0].len, 5u);
    EXPECT_STREQ(info.slot, "01");
    EXPECT_STREQ(info.name, "Anna");
    EXPECT_STREQ(info.address, "A1B2C3D4E5F6") << "the text exactly as read";
    EXPECT_EQ(info.connected, 0);
    std::memcpy(&info, notes[1].data.data(), sizeof info);
    EXPECT_STREQ(info.slot, "03");
    EXPECT_STREQ(info.address, "0a0b0c0d0e0f") << "white space around the text is not part of it";

    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(1, &r));
    EXPECT_EQ(Hex(r.address, 6), "a1b2c3d4e5f6");
    EXPECT_EQ(Hex(r.key, 16), std::string(32, '1'));
    EXPECT_EQ(r.pb, 1);
    EXPECT_EQ(kz::g_CurrConnectIndex, 3);
    EXPECT_EQ(Hex(kz::g_abCurrAddr, 6), "0a0b0c0d0e0f");
    EXPECT_EQ(kz::FindSlotByAddress(r.address), 1);
    ASSERT_TRUE(kz::GetSlot(3, &r));
    EXPECT_EQ(Hex(r.key, 16), std::string(32, '2'));
}

TEST_F(RegistryTest, LoadPairedDevices_DamagedTextsGiveDefaultsWithinTheRecord) {
    std::string longName(60, 'N');
    root.Write(kTarnIni,
               "[Device0]\nid=0\nname=" + longName + "\naddress=zz1122334455\nkey=" +
                   std::string(34, '2') + "\n" +
                   "[Device1]\nid=7\nname=Ghost\n"
                   "[Device2]\nid=2\naddress=0011\nkey=abc\n");
    kz::LoadPairedDevices();
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(0, &r));
    EXPECT_EQ(std::string(r.name), longName.substr(0, 31));
    EXPECT_EQ(Hex(r.address, 6), std::string(12, '0'));
    EXPECT_EQ(Hex(r.key, 16), kNoKey) << "too long a key";
    ASSERT_TRUE(kz::GetSlot(1, &r));
    EXPECT_EQ(r.id, 255) << "an id outside 0..4 is an empty slot";
    ASSERT_TRUE(kz::GetSlot(2, &r));
    EXPECT_STREQ(r.name, "UnKnown");
    EXPECT_EQ(Hex(r.address, 6), std::string(12, '0'));
    EXPECT_EQ(Hex(r.key, 16), kNoKey);
    EXPECT_EQ(r.pb, 255);
    EXPECT_EQ(Notes(KZ_NOTIFY_DEVICE_INFO).size(), 2u);
}

// ----------------------------------------------------------------- register

TEST_F(RegistryTest, RegisterConnectedDevice_SurvivesReload) {
    kz::LoadPairedDevices();
    Connect(0x21, "Carla", 0x5A);
    kz::RegisterConnectedDevice();
    EXPECT_EQ(kz::g_CurrConnectIndex, 0);
    EXPECT_EQ(root.Read(kTarnIni), "[Device0]\nkey=" + Repeat("5a", 16) + "\naddress=212121212121\nname=Carla\nid=0\n");
    kz::SetCurrentIndex(0);

    kz::ResetRegistryState();
    std::memset(kz::g_abCurrAddr, 0, 6);
    kz::LoadPairedDevices();
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(0, &r));
    EXPECT_STREQ(r.name, "Carla");
    EXPECT_EQ(Hex(r.address, 6), "212121212121");
    EXPECT_EQ(Hex(r.key, 16), Hex(kz::g_CurrDevice.key, 16));
    EXPECT_EQ(r.id, 0);
    EXPECT_EQ(kz::g_CurrConnectIndex, 0);
    EXPECT_EQ(Hex(kz::g_abCurrAddr, 6), "212121212121");
}

// The phone that connected goes to the slot holding its address, else the
// first free one; with all five used it is not registered and nothing is current.
TEST_F(RegistryTest, RegisterConnectedDevice_ByStartingSlots) {
    WriteFiveSlots();
    const std::string five = root.Read(kTarnIni);
    const struct {
        const char* what;
        std::string before;
        int slot;
        std::string after;   // "" = unchanged
    } cases[] = {
        {"its address in slot 3", Section(3, "Old", "212121212121", kNoKey, 1), 3,
         Section(3, "New name", "212121212121", kNoKey, 1)},
        {"all five slots used", five, 255, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        root.Write(kTarnIni, c.before);
        kz::LoadPairedDevices();
        Connect(0x21, "New name");
        kz::g_CurrConnectIndex = 2;
        kz::RegisterConnectedDevice();
        EXPECT_EQ(kz::g_CurrConnectIndex, c.slot);
        EXPECT_EQ(root.Read(kTarnIni), c.after.empty() ? c.before : c.after);
        PairedDeviceRecord r;
        if (c.slot != 255) {
            ASSERT_TRUE(kz::GetSlot(c.slot, &r));
            EXPECT_STREQ(r.name, "New name");
            EXPECT_EQ(r.pb, 255) << "memory takes the candidate's pb, the file keeps its own";
        }
    }
    EXPECT_FALSE(kz::HasFreeSlot());
}

// A name with line breaks is kept in its value by the INI engine (its own
// test) and end to end by the hostile-phone test.

// ------------------------------------------------------------------- delete

TEST_F(RegistryTest, DeletePairedDevice_EmptiesSlotAndItsPhonebookFiles) {
    root.Write(kTarnIni, Section(1, "A", "111111111111", kNoKey, 1) +
                             Section(2, "B", "222222222222", std::string(32, '3'), 1) +
                             "[General]\nCurrIndex=1\n");
    root.Write("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook02.dat", "entries");
    root.Write("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum02.dat", "numbers");
    root.Write("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook01.dat", "other phone");
    kz::LoadPairedDevices();
    host.Clear();

    kz::DeletePairedDevice(2);
    EXPECT_EQ(root.Read(kTarnIni), Section(1, "A", "111111111111", kNoKey, 1) +
                                       "[Device2]\nid=255\nname=\naddress=\nkey=" + kNoKey +
                                       "\npb=255\n[General]\nCurrIndex=1\n");
    EXPECT_FALSE(root.Exists("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook02.dat"));
    EXPECT_FALSE(root.Exists("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum02.dat"));
    EXPECT_TRUE(root.Exists("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook01.dat"));
    auto notes = host.Notifications();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, uint32_t(KZ_NOTIFY_DEVICE_DELETED));
    EXPECT_EQ(notes[0].param, 1u);
    EXPECT_EQ(notes[0].len, 0u);
    EXPECT_EQ(notes[0].Text(), "02");
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(2, &r));
    EXPECT_EQ(r.id, 255);
    EXPECT_EQ(Hex(r.key, 16), kNoKey);
    EXPECT_EQ(kz::g_CurrConnectIndex, 1);
}

TEST_F(RegistryTest, DeletePairedDevice_RefusesPhoneBeingConnectedAndBadIndexes) {
    root.Write(kTarnIni, Section(1, "A", "111111111111", kNoKey, 1) + "[General]\nCurrIndex=1\n");
    kz::LoadPairedDevices();
    const std::string before = root.Read(kTarnIni);
    host.Clear();
    kz::g_bConnecting = 1;
    kz::DeletePairedDevice(1);
    kz::DeletePairedDevice(-1);
    kz::DeletePairedDevice(5);
    EXPECT_EQ(root.Read(kTarnIni), before);
    EXPECT_TRUE(host.Codes().empty());
    EXPECT_EQ(kz::g_CurrConnectIndex, 1);
}

TEST_F(RegistryTest, DeletePairedDevice_CurrentPhoneIsDisconnectedAndForgotten) {
    root.Write(kTarnIni, Section(1, "A", "111111111111", kNoKey, 1) + "[General]\nCurrIndex=1\n");
    kz::LoadPairedDevices();
    host.Clear();
    kz::g_bHfpConnected = 1;
    kz::g_bA2dpConnected = 1;
    kz::g_bAutoConnecting = 1;
    kz::DeletePairedDevice(1);

    EXPECT_EQ(sent.Ids(), (std::vector<uint16_t>{kz::msgid::kDisconnectProfile, kz::msgid::kDisconnectProfile}));
    EXPECT_EQ(host.Codes(), (std::vector<uint32_t>{KZ_NOTIFY_DEVICE_DELETED}));
    EXPECT_EQ(kz::g_CurrConnectIndex, 255);
    EXPECT_EQ(kz::g_bAutoConnecting, 0);
    EXPECT_EQ(kz::IniReadInt("General", "CurrIndex", 0, kTarnIni), 255);
    EXPECT_EQ(kz::IniReadInt("Device1", "id", 0, kTarnIni), 255);
}

// --------------------------------------------------------- other slot updates

TEST_F(RegistryTest, SlotKeyAndPhonebookFlag_UpdateTheirSlot) {
    root.Write(kTarnIni, Section(2, "B", "222222222222", kNoKey, 255) + "[General]\nCurrIndex=2\n");
    kz::LoadPairedDevices();
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(2, &r));
    std::memset(r.key, 0x3C, 16);
    kz::WriteSlotKey(r);
    kz::SetSlotKey(2, r.key);
    kz::MarkPhonebookStored();
    EXPECT_EQ(root.Read(kTarnIni),
              Section(2, "B", "222222222222", Repeat("3c", 16), 1) +
                  "[General]\nCurrIndex=2\n");
    PairedDeviceRecord after;
    ASSERT_TRUE(kz::GetSlot(2, &after));
    EXPECT_EQ(after.pb, 1);
    EXPECT_EQ(Hex(after.key, 16), Repeat("3c", 16));

    kz::SetSlotPhonebookFlag(2, 255);   // memory only
    ASSERT_TRUE(kz::GetSlot(2, &after));
    EXPECT_EQ(after.pb, 255);
    r.id = 255;
    kz::WriteSlotKey(r);   // no slot: nothing written
    kz::g_CurrConnectIndex = 255;
    kz::MarkPhonebookStored();
    EXPECT_EQ(root.Read(kTarnIni).find("Device255"), std::string::npos);
}

// ----------------------------------------------------------------- tarn.dat

TEST_F(RegistryTest, LoadPairedDevices_ReadsWholeLinkKeyRecordsOnly) {
    kz::LinkKeyEntry a = Entry(0x0A, 0x1A), b = Entry(0x0B, 0x1B);
    std::string ra = Hex(a.address, 6) + Hex(a.key, 16), rb = Hex(b.address, 6) + Hex(b.key, 16);
    const struct {
        std::string file;
        size_t entries;
    } cases[] = {
        {"", 0},
        {ra + rb, 2},
        {ra + rb + "0a0a0a0a0a0a1a1a", 2},        // trailing partial record
        {ra + std::string(44, 'g') + rb, 2},      // damaged record in the middle
    };
    for (const auto& c : cases) {
        root.Write(kTarnDat, c.file);
        kz::LoadPairedDevices();
        EXPECT_EQ(kz::LinkKeySnapshot().size(), c.entries) << c.file;
    }
    uint8_t key[16];
    ASSERT_TRUE(kz::FindLinkKey(b.address, key));
    EXPECT_EQ(std::memcmp(key, b.key, 16), 0);
}

TEST_F(RegistryTest, StoreLinkKey_AppendsNewRewritesChangedKeepsSameOrOldOnFailure) {
    kz::LoadPairedDevices();
    kz::LinkKeyEntry a = Entry(0x0A, 0x1A), b = Entry(0x0B, 0x1B);
    std::string ra = Hex(a.address, 6) + Hex(a.key, 16), rb = Hex(b.address, 6) + Hex(b.key, 16);
    kz::StoreLinkKey(a);
    kz::StoreLinkKey(b);
    EXPECT_EQ(root.Read(kTarnDat), ra + rb) << "creates \\BACKUP\\KZ_TARN and appends";

    root.Write(kTarnDat, ra + rb + "marker");   // untouched when nothing changes
    kz::StoreLinkKey(b);
    EXPECT_EQ(root.Read(kTarnDat), ra + rb + "marker");

    kz::LinkKeyEntry a2 = Entry(0x0A, 0x2A), a3 = Entry(0x0A, 0x3A);
    KzInjectWriteFailure(10);   // a failed rewrite keeps the old file
    kz::StoreLinkKey(a3);
    KzInjectWriteFailure(-1);
    EXPECT_EQ(root.Read(kTarnDat), ra + rb + "marker");
    kz::StoreLinkKey(a3);   // the same key again: the file still lacks it
    EXPECT_EQ(root.Read(kTarnDat), Hex(a3.address, 6) + Hex(a3.key, 16) + rb);
    kz::StoreLinkKey(a2);
    EXPECT_EQ(root.Read(kTarnDat), Hex(a2.address, 6) + Hex(a2.key, 16) + rb);
    uint8_t key[16];
    ASSERT_TRUE(kz::FindLinkKey(a.address, key));
    EXPECT_EQ(key[0], 0x2A);
}

TEST_F(RegistryTest, StoreLinkKey_TornAppendLeavesWholeRecords) {
    kz::LoadPairedDevices();
    kz::LinkKeyEntry a = Entry(0x0A, 0x1A), b = Entry(0x0B, 0x1B), c = Entry(0x0C, 0x1C);
    kz::StoreLinkKey(a);
    KzInjectWriteFailure(20);
    kz::StoreLinkKey(b);
    KzInjectWriteFailure(-1);
    kz::StoreLinkKey(c);
    kz::ResetRegistryState();
    kz::LoadPairedDevices();
    auto keys = kz::LinkKeySnapshot();
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].address[0], 0x0A);
    EXPECT_EQ(keys[1].address[0], 0x0B);
    EXPECT_EQ(keys[2].address[0], 0x0C);
    EXPECT_EQ(root.Read(kTarnDat).size(), 3 * 44u);
}

// ------------------------------------------------------------ concurrency

TEST_F(RegistryTest, LoadPairedDevices_ReadersKeepWholeRecordsDuringReload) {
    WriteFiveSlots();
    kz::LoadPairedDevices();
    kz::StoreLinkKey(Entry(1, 2));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        uint8_t address[6];
        std::memset(address, 1, 6);
        while (!stop) {
            PairedDeviceRecord r;
            uint8_t key[16];
            if (kz::GetSlot(2, &r) && std::strcmp(r.name, "Phone2") != 0) ++bad;
            if (!kz::FindLinkKey(address, key) || key[0] != 2) ++bad;
        }
    });
    for (int i = 0; i < 20; ++i) kz::LoadPairedDevices();
    stop = true;
    reader.join();
    EXPECT_EQ(bad, 0);
}

// --------------------------------------------------------------- directories

TEST_F(RegistryTest, DeleteTreeAndDirectoryExists_WorkOnNestedFolders) {
    root.Write("\\BACKUP\\KZ_TARN\\tarn.dat", "x");
    root.Write("\\BACKUP\\KZ_TARN\\sub\\deep\\file.bin", "y");
    EXPECT_TRUE(kz::DirectoryExists("\\backup\\kz_tarn/"));
    EXPECT_FALSE(kz::DirectoryExists("\\BACKUP\\KZ_TARN\\tarn.dat"));
    EXPECT_EQ(kz::DeleteTree("\\BACKUP\\KZ_TARN"), 1);
    EXPECT_FALSE(kz::DirectoryExists("\\BACKUP\\KZ_TARN"));
    EXPECT_TRUE(kz::DirectoryExists("\\BACKUP"));
    EXPECT_EQ(kz::DeleteTree("\\BACKUP\\KZ_TARN"), 0);
}

}  // namespace
