// Service functions: firmware image load, EEPROM record, link-key backup.
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/registry.h"
#include "support/test_support.h"

namespace {

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        kztest::ResetAllState();
        eeprom = root.path() + "/e2p1.bin";
        setenv("KZ_TARN_E2P1", eeprom.c_str(), 1);
    }
    void TearDown() override { unsetenv("KZ_TARN_E2P1"); }

    std::string Eeprom() const {
        std::ifstream f(eeprom, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

    std::string LoadCapturingStdout() {
        testing::internal::CaptureStdout();
        kz::LoadFirmwareImage();
        return testing::internal::GetCapturedStdout();
    }

    kztest::TempRoot root;
    std::string eeprom;
};

// ------------------------------------------------------------ firmware image

TEST_F(ServiceTest, LoadFirmwareImage_MissingFileIsSilent) {
    EXPECT_EQ(LoadCapturingStdout(), "");
    size_t size = 1;
    EXPECT_EQ(kz::LoadedFirmwareImage(&size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(ServiceTest, LoadFirmwareImage_EmptyFileIsReportedAndAllocatesNothing) {
    root.Write(kz::kFirmwareImagePath, "");
    EXPECT_EQ(LoadCapturingStdout(), "Can't get dfu file status!\n");
    EXPECT_EQ(kz::LoadedFirmwareImage(nullptr), nullptr);
}

TEST_F(ServiceTest, LoadFirmwareImage_SecondLoadReplacesTheImage) {
    std::string first("DFU\0image", 9);
    root.Write("\\sd\\sw_update\\data\\firmware.dfu", first);
    EXPECT_EQ(LoadCapturingStdout(), "");
    size_t size = 0;
    const uint8_t* image = kz::LoadedFirmwareImage(&size);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), size), first);

    std::string second(70000, 'x');
    root.Write(kz::kFirmwareImagePath, second);
    kz::LoadFirmwareImage();
    image = kz::LoadedFirmwareImage(&size);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), size), second);
}

// ------------------------------------------------------------- EEPROM record

TEST_F(ServiceTest, WriteEepromRecord_PadsOrCutsTo1024Bytes) {
    const struct {
        size_t length;
        size_t kept;
    } cases[] = {{22, 22}, {1024, 1024}, {1034, 1024}, {0, 0}};
    for (const auto& c : cases) {
        std::vector<uint8_t> record(c.length);
        for (size_t i = 0; i < record.size(); ++i) record[i] = uint8_t(i % 251 + 1);
        kz::WriteEepromRecord(record.data(), record.size());
        std::string expected(reinterpret_cast<const char*>(record.data()), c.kept);
        expected.resize(kz::kEepromRecordSize, '\0');
        EXPECT_EQ(Eeprom(), expected) << c.length;
    }
}

TEST_F(ServiceTest, WriteEepromRecord_MissingDriverReportsErrorCode) {
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
        if (i == 1) {
            kz::BackupLinkKeysToEeprom();
            std::string two = expected;
            two.resize(kz::kEepromRecordSize, '\0');
            EXPECT_EQ(Eeprom(), two);
        }
    }
    kz::BackupLinkKeysToEeprom();
    EXPECT_EQ(Eeprom(), expected.substr(0, kz::kEepromRecordSize));
}

}  // namespace
