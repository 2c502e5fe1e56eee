// A phonebook download end to end: the library against the simulated module
// and phone, over the pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>

#include "KZ_Tarn.h"
#include "phone.h"
#include "support/library_on_sim.h"

namespace {

size_t Count(const kztest::HostWindows& host, uint32_t code, int param = -1) {
    size_t n = 0;
    for (const auto& note : host.Notifications())
        if (note.code == code && (param < 0 || note.param == uint32_t(param))) ++n;
    return n;
}

TEST(PhoneBookSystem, Download_AnnouncesEntriesAndWritesTheFiles) {
    kztest::LibraryOnSimulator lib;
    kzsim::Phone& phone = lib.sim().phone();
    phone.setContacts({{"Ann Lee", "Lee", "Ann", {{"CELL", "+49 1"}}},
                       {"Bob", "", "", {{"HOME", "111"}, {"WORK", "222"}}},
                       {"", "Doe", "John", {{"", "333"}}}});
    kzsim::VCardStyle style;
    style.chunkSize = 37;   // vCards cut across many indications
    phone.setVCardStyle(style);
    phone.setAddress({0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
    lib.root().Write("\\BACKUP\\KZ_CONFIG\\BlueTooth\\tarn.ini",
                     "[Device0]\r\nid=0\r\nname=Phone\r\naddress=001122334455\r\n"
                     "key=ffffffffffffffffffffffffffffffff\r\npb=255\r\n[General]\r\nCurrIndex=0\r\n");
    ASSERT_TRUE(lib.Start());
    auto& host = lib.host();

    KZ_BT_GetPairedDevices();
    KZ_BT_ConnectPairedDevice("0");
    ASSERT_TRUE(host.WaitFor([&] { return Count(host, KZ_NOTIFY_CONNECTION, 0) > 0; }, 5000));
    if (!phone.connected(kzsim::Profile::Pbap)) phone.connectProfile(kzsim::Profile::Pbap);
    // The call lists come first (all empty here) and end with notification 37 (2).
    ASSERT_TRUE(host.WaitFor([&] { return Count(host, KZ_NOTIFY_PHONEBOOK_STATE, 2) > 0; }, 5000));

    KZ_BT_GetPhonBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(host.WaitFor([&] { return Count(host, KZ_NOTIFY_PHONEBOOK_SIZE) > 0; }, 5000));
    KZ_BT_GetPhonebookData(KZ_PB_PHONEBOOK, 3);
    ASSERT_TRUE(host.WaitFor([&] { return Count(host, KZ_NOTIFY_PHONEBOOK_STATE, 1) > 0; }, 5000));
    KZ_BT_CloseDevice();   // waits for the file thread

    // Announced while downloading (no stored phonebook yet), then again by the sync.
    EXPECT_EQ(Count(host, KZ_NOTIFY_PHONEBOOK_ENTRY), 2 * 3u);
    EXPECT_EQ(Count(host, KZ_NOTIFY_PHONEBOOK_NUMBER), 2 * 2u);
    EXPECT_EQ(lib.root().Read("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat").size(),
              3 * sizeof(structPhoneDate));
    EXPECT_EQ(lib.root().Read("\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBookNum00.dat").size(),
              2 * sizeof(structPhoneNum));
}

}  // namespace
