// Paired-device registry and link-key store: files, slots in memory, notifications.
#include "settings/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "channel/module_ids.h"
#include "events/connection.h"
#include "settings/ini_file.h"
#include "support/test_support.h"

namespace {

constexpr char kTarnIni[] = "\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini";
constexpr char kTarnDat[] = "\\BACKUP\\KZ_TARN\\tarn.dat";
const std::string kNoKey(32, 'f'), kEmpty = "255||000000000000|" + kNoKey + "|255";

std::string Section(int slot, const std::string& name, const std::string& address,
                    const std::string& key = kNoKey, int pb = 255) {
    return "[Device" + std::to_string(slot) + "]\nid=" + std::to_string(slot) + "\nname=" + name +
           "\naddress=" + address + "\nkey=" + key + "\npb=" + std::to_string(pb) + "\n";
}

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string s;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) s += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
    return s;
}

// A slot as memory holds it: id|name|address|key|pb, "" outside 0..4.
std::string Slot(int n) {
    PairedDeviceRecord r;
    if (!kz::GetSlot(n, &r)) return "";
    return std::to_string(r.id) + "|" + r.name + "|" + Hex(r.address, 6) + "|" + Hex(r.key, 16) + "|" +
           std::to_string(r.pb);
}

kz::LinkKeyEntry Entry(uint8_t a, uint8_t k) {
    kz::LinkKeyEntry e;
    std::memset(e.address, a, sizeof e.address);
    std::memset(e.key, k, sizeof e.key);
    return e;
}
std::string Record(const kz::LinkKeyEntry& e) { return Hex(e.address, 6) + Hex(e.key, 16); }

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { root.Write("\\BACKUP\\KZ_Config\\BlueTooth\\.keep", ""); }
    void TearDown() override { KzInjectWriteFailure(-1); }

    // Each report to the host as code/param/len, then its record or text.
    std::vector<std::string> Reports() {
        std::vector<std::string> out;
        for (const auto& n : host.Notifications()) {
            std::string text = n.Text();
            if (n.code == KZ_NOTIFY_DEVICE_INFO && n.data.size() == sizeof(DeviceInfoRecord)) {
                DeviceInfoRecord i;
                std::memcpy(&i, n.data.data(), sizeof i);
                text = std::string(i.slot) + "|" + i.name + "|" + i.address + "|" + std::to_string(i.connected);
            }
            out.push_back(std::to_string(n.code) + "/" + std::to_string(n.param) + "/" + std::to_string(n.len) + " " + text);
        }
        return out;
    }

    // Resets before the recorder installs its tap; at the end frees the lists for the leak checker.
    struct StateReset {
        StateReset() { kztest::ResetAllState(); }
        ~StateReset() { kztest::ResetAllState(); }
    } reset;
    kztest::TempRoot root;
    kztest::HostWindows host;
    kztest::SubmitRecorder sent;
};

// Damaged texts give defaults within their record; an id outside 0..4 is an empty slot.
TEST_F(RegistryTest, LoadPairedDevices_ReportsUsedSlotsAndRestoresCurrent) {
    root.Write(kTarnIni, "[Device0]\nid=0\nname=" + std::string(60, 'N') + "\naddress=zz1122334455\nkey=" +
                             std::string(34, '2') + "\n" + Section(1, "Anna", "A1B2C3D4E5F6", std::string(32, '1'), 1) +
                             "[Device2]\nid=7\nname=Ghost\n" +
                             Section(3, "Ben", " 0a0b0c0d0e0f\t", " " + std::string(32, '2') + " ") +
                             "[Device4]\nid=4\naddress=0011\nkey=abc\n[General]\nCurrIndex=3\n");
    kz::LoadPairedDevices();
    EXPECT_EQ(Reports(), (std::vector<std::string>{"64/0/5 00|" + std::string(31, 'N') + "|zz1122334455|0",
                                                   "64/0/5 01|Anna|A1B2C3D4E5F6|0", "64/0/5 03|Ben|0a0b0c0d0e0f|0",
                                                   "64/0/5 04|UnKnown|0011|0"}))
        << "the address text exactly as read, without the white space around it";
    const std::string zero(12, '0');
    EXPECT_EQ(Slot(0), "0|" + std::string(31, 'N') + "|" + zero + "|" + kNoKey + "|255");   // key too long
    EXPECT_EQ(Slot(1), "1|Anna|a1b2c3d4e5f6|" + std::string(32, '1') + "|1");
    EXPECT_EQ(Slot(2), kEmpty);
    EXPECT_EQ(Slot(3), "3|Ben|0a0b0c0d0e0f|" + std::string(32, '2') + "|255");
    EXPECT_EQ(Slot(4), "4|UnKnown|" + zero + "|" + kNoKey + "|255");
    EXPECT_EQ(Slot(5), "");
    EXPECT_EQ(kz::g_CurrConnectIndex, 3);
    EXPECT_EQ(Hex(kz::g_abCurrAddr, 6), "0a0b0c0d0e0f");
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(1, &r));
    EXPECT_EQ(kz::FindSlotByAddress(r.address), 1);
}

// The phone goes to the slot holding its address, else the first free one, else nowhere.
TEST_F(RegistryTest, RegisterConnectedDevice_ByStartingSlotsAndSurvivesReload) {
    std::string five;
    for (int k = 0; k < 5; ++k) five += Section(k, "Phone" + std::to_string(k), std::string(12, char('a' + k)));
    const std::string key5a = Hex(Entry(0, 0x5A).key, 16);
    const struct {
        const char* what;
        std::string before;
        uint8_t key;
        int slot;
        std::string after;
    } cases[] = {
        {"all five slots used", five, 0xFF, 255, five},
        {"its address in slot 3", Section(3, "Old", "212121212121", kNoKey, 1), 0xFF, 3,
         Section(3, "New name", "212121212121", kNoKey, 1)},
        {"no tarn.ini", "", 0x5A, 0, "[Device0]\nkey=" + key5a + "\naddress=212121212121\nname=New name\nid=0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KzDeleteFile(kTarnIni);
        if (!c.before.empty()) root.Write(kTarnIni, c.before);
        kz::LoadPairedDevices();
        kz::g_CurrDevice = {};   // the phone that has just connected
        std::memset(kz::g_CurrDevice.address, 0x21, 6);
        std::memset(kz::g_CurrDevice.key, c.key, 16);
        std::strcpy(kz::g_CurrDevice.name, "New name");
        kz::g_CurrDevice.id = kz::g_CurrDevice.pb = 255;
        kz::g_bPairMode = 0;
        kz::g_CurrConnectIndex = 2;
        kz::RegisterConnectedDevice();
        EXPECT_EQ(kz::g_CurrConnectIndex, c.slot);
        EXPECT_EQ(root.Read(kTarnIni), c.after);
        EXPECT_EQ(kz::HasFreeSlot(), c.slot != 255);
        EXPECT_EQ(Slot(c.slot), c.slot == 255 ? "" : std::to_string(c.slot) + "|New name|212121212121|" +
                                                      Hex(kz::g_CurrDevice.key, 16) + "|255");   // memory takes its pb
    }
    kz::SetCurrentIndex(0);
    kz::ResetRegistryState();
    std::memset(kz::g_abCurrAddr, 0, 6);
    kz::LoadPairedDevices();
    EXPECT_EQ(Slot(0), "0|New name|212121212121|" + key5a + "|255");
    EXPECT_EQ(kz::g_CurrConnectIndex, 0);
    EXPECT_EQ(Hex(kz::g_abCurrAddr, 6), "212121212121");
}

TEST_F(RegistryTest, DeletePairedDevice_EmptiesSlotAndItsPhonebookFiles) {
    root.Write(kTarnIni, Section(1, "A", "111111111111", kNoKey, 1) + Section(2, "B", "222222222222", std::string(32, '3'), 1) +
                             "[General]\nCurrIndex=1\n");
    for (const char* f : {"PhoneBook02.dat", "PhoneBookNum02.dat", "PhoneBook01.dat"})
        root.Write(std::string("\\BACKUP\\KZ_Config\\BlueTooth\\") + f, "x");
    kz::LoadPairedDevices();
    const std::string before = root.Read(kTarnIni);
    host.Clear();
    kz::g_bConnecting = 1;   // refused for the phone being connected, and for bad indexes
    for (int slot : {1, -1, 5}) kz::DeletePairedDevice(slot);
    EXPECT_EQ(root.Read(kTarnIni), before);
    EXPECT_TRUE(host.Codes().empty());

    kz::g_bConnecting = 0;
    kz::DeletePairedDevice(2);
    EXPECT_EQ(root.Read(kTarnIni), Section(1, "A", "111111111111", kNoKey, 1) +
                                       "[Device2]\nid=255\nname=\naddress=\nkey=" + kNoKey +
                                       "\npb=255\n[General]\nCurrIndex=1\n");
    std::string left;
    for (const char* f : {"PhoneBook02.dat", "PhoneBookNum02.dat", "PhoneBook01.dat"})
        left += root.Exists(std::string("\\BACKUP\\KZ_Config\\BlueTooth\\") + f) ? f : "";
    EXPECT_EQ(left, "PhoneBook01.dat");
    EXPECT_EQ(Reports(), (std::vector<std::string>{"68/1/0 02"}));
    EXPECT_EQ(Slot(2), kEmpty);
    EXPECT_EQ(kz::g_CurrConnectIndex + sent.Ids().size(), 1u);

    kz::g_bHfpConnected = kz::g_bA2dpConnected = kz::g_bAutoConnecting = 1;   // the current phone
    kz::DeletePairedDevice(1);
    EXPECT_EQ(sent.Ids(), (std::vector<uint16_t>{kz::msgid::kDisconnectProfile, kz::msgid::kDisconnectProfile}));
    EXPECT_EQ(kz::g_CurrConnectIndex + kz::g_bAutoConnecting, 255);
    EXPECT_EQ(kz::IniReadInt("General", "CurrIndex", 0, kTarnIni) + kz::IniReadInt("Device1", "id", 0, kTarnIni), 510);
}

TEST_F(RegistryTest, SlotKeyAndPhonebookFlag_UpdateTheirSlot) {
    root.Write(kTarnIni, Section(2, "B", "222222222222") + "[General]\nCurrIndex=2\n");
    kz::LoadPairedDevices();
    PairedDeviceRecord r;
    ASSERT_TRUE(kz::GetSlot(2, &r));
    std::memset(r.key, 0x3C, 16);
    kz::WriteSlotKey(r);
    kz::SetSlotKey(2, r.key);
    kz::MarkPhonebookStored();
    const std::string key3c = Hex(r.key, 16);
    EXPECT_EQ(root.Read(kTarnIni), Section(2, "B", "222222222222", key3c, 1) + "[General]\nCurrIndex=2\n");
    EXPECT_EQ(Slot(2), "2|B|222222222222|" + key3c + "|1");
    kz::SetSlotPhonebookFlag(2, 255);   // memory only
    EXPECT_EQ(Slot(2), "2|B|222222222222|" + key3c + "|255");
    r.id = 255;
    kz::WriteSlotKey(r);   // no slot: nothing written
    kz::g_CurrConnectIndex = 255;
    kz::MarkPhonebookStored();
    EXPECT_EQ(root.Read(kTarnIni).find("Device255"), std::string::npos);
}

TEST_F(RegistryTest, StoreLinkKey_AppendsNewRewritesChangedKeepsSameOrOldOnFailure) {
    kz::LoadPairedDevices();
    kz::LinkKeyEntry a = Entry(0x0A, 0x1A), b = Entry(0x0B, 0x1B), c = Entry(0x0C, 0x1C);
    kz::StoreLinkKey(a);
    kz::StoreLinkKey(b);
    EXPECT_EQ(root.Read(kTarnDat), Record(a) + Record(b)) << "creates \\BACKUP\\KZ_TARN and appends";
    root.Write(kTarnDat, Record(a) + Record(b) + "marker");   // untouched when nothing changes
    kz::StoreLinkKey(b);
    EXPECT_EQ(root.Read(kTarnDat), Record(a) + Record(b) + "marker");

    kz::LinkKeyEntry a3 = Entry(0x0A, 0x3A);
    KzInjectWriteFailure(10);   // a failed rewrite keeps the old file
    kz::StoreLinkKey(a3);
    KzInjectWriteFailure(-1);
    EXPECT_EQ(root.Read(kTarnDat), Record(a) + Record(b) + "marker");
    kz::StoreLinkKey(a3);   // the same key again: the file still lacks it
    EXPECT_EQ(root.Read(kTarnDat), Record(a3) + Record(b));
    uint8_t key[16];
    ASSERT_TRUE(kz::FindLinkKey(a.address, key));
    EXPECT_EQ(key[0], 0x3A);

    KzInjectWriteFailure(20);   // a torn append leaves whole records
    kz::StoreLinkKey(c);
    KzInjectWriteFailure(-1);
    kz::StoreLinkKey(Entry(0x0D, 0x1D));
    kz::ResetRegistryState();
    kz::LoadPairedDevices();
    auto keys = kz::LinkKeySnapshot();
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[2].address[0], 0x0C);
    EXPECT_EQ(keys[3].address[0], 0x0D);
    EXPECT_EQ(root.Read(kTarnDat).size(), 4 * 44u);
    root.Write(kTarnDat, Record(a3) + std::string(44, 'g') + Record(b));   // a damaged record is skipped
    kz::LoadPairedDevices();
    EXPECT_EQ(kz::LinkKeySnapshot().size(), 2u);
    kz::StoreLinkKey(Entry(0x0B, 0x2B));   // a changed key rewrites the file, without the damage
    EXPECT_EQ(root.Read(kTarnDat), Record(a3) + Record(Entry(0x0B, 0x2B)));
}

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
