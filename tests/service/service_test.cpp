// Service functions: firmware image load, EEPROM record, link-key backup.
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "settings/registry.h"
#include "support/test_support.h"

namespace {

using Loaded = std::pair<std::string, std::string>;   // what a load printed, the image it left

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        kztest::ResetAllState();
        setenv("KZ_TARN_E2P1", (root.path() + "/e2p1.bin").c_str(), 1);
    }
    void TearDown() override { unsetenv("KZ_TARN_E2P1"); }

    std::string Eeprom() const { return root.Read("/e2p1.bin"); }
    Loaded Load() {
        testing::internal::CaptureStdout();
        kz::LoadFirmwareImage();
        std::string printed = testing::internal::GetCapturedStdout();
        size_t size = 1;
        const uint8_t* image = kz::LoadedFirmwareImage(&size);
        EXPECT_EQ(image == nullptr, size == 0);
        return {printed, image ? std::string(reinterpret_cast<const char*>(image), size) : "none"};
    }

    kztest::TempRoot root;
};

TEST_F(ServiceTest, LoadFirmwareImage_MissingIsSilentEmptyIsReportedASecondLoadReplaces) {
    EXPECT_EQ(Load(), Loaded("", "none"));
    root.Write(kz::kFirmwareImagePath, "");
    EXPECT_EQ(Load(), Loaded("Can't get dfu file status!\n", "none"));
    const std::string first("DFU\0image", 9), second(70000, 'x');
    root.Write("\\sd\\sw_update\\data\\firmware.dfu", first);
    EXPECT_EQ(Load(), Loaded("", first));
    root.Write(kz::kFirmwareImagePath, second);
    EXPECT_EQ(Load(), Loaded("", second));
}

TEST_F(ServiceTest, WriteEepromRecord_PadsOrCutsTo1024Bytes_MissingDriverReportsErrorCode) {
    for (auto [length, kept] : {std::pair<size_t, size_t>{22, 22}, {1024, 1024}, {1034, 1024}, {0, 0}}) {
        std::vector<uint8_t> record(length);
        for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i % 251 + 1);
        kz::WriteEepromRecord(record.data(), record.size());
        std::string expected(reinterpret_cast<const char*>(record.data()), kept);
        expected.resize(kz::kEepromRecordSize, '\0');
        EXPECT_EQ(Eeprom(), expected) << length;
    }
    unsetenv("KZ_TARN_E2P1");
    uint8_t record[22] = {1};
    testing::internal::CaptureStderr();
    kz::WriteEepromRecord(record, sizeof record);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Create E2P failed!  Error code=(2)\n"), std::string::npos) << err;
}

TEST_F(ServiceTest, BackupLinkKeysToEeprom_WritesTwentyTwoBytesPerPhone) {
    kz::LoadPairedDevices();
    kz::BackupLinkKeysToEeprom();
    EXPECT_EQ(Eeprom(), "") << "no link keys: nothing written";
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        kz::LinkKeyEntry e;
        std::memset(e.address, i, sizeof e.address);
        std::memset(e.key, 0xFF - i, sizeof e.key);
        kz::StoreLinkKey(e);
        expected.append(reinterpret_cast<const char*>(e.address), 6);
        expected.append(reinterpret_cast<const char*>(e.key), 16);
        if (i != 1) continue;
        kz::BackupLinkKeysToEeprom();
        std::string two = expected;
        two.resize(kz::kEepromRecordSize, '\0');
        EXPECT_EQ(Eeprom(), two);
    }
    kz::BackupLinkKeysToEeprom();
    EXPECT_EQ(Eeprom(), expected.substr(0, kz::kEepromRecordSize));
}

}  // namespace
