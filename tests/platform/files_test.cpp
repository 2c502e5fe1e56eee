// Head-unit paths below the root, file replacement, attributes, searches.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cerrno>
#include <string>
#include <vector>

#include "kz_platform.h"
#include "support/test_support.h"

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override { KzInjectWriteFailure(-1); }
    void TearDown() override { KzInjectWriteFailure(-1); }
    std::string Under(const std::string& rel) const { return root.path() + "/" + rel; }
    // Every entry a search finds: "name/" for a folder, "name=size" for a file.
    static std::vector<std::string> Find(const char* pattern) {
        std::vector<std::string> names;
        KzFindData fd;
        KzHandle find = KzFindFirstFile(pattern, &fd);
        if (find == KZ_INVALID_HANDLE) return names;
        do {
            const bool dir = fd.dwFileAttributes == KZ_FILE_ATTRIBUTE_DIRECTORY && fd.nFileSize == 0;
            EXPECT_TRUE(dir || fd.dwFileAttributes == KZ_FILE_ATTRIBUTE_NORMAL) << fd.cFileName;
            names.push_back(fd.cFileName + (dir ? "/" : "=" + std::to_string(fd.nFileSize)));
        } while (KzFindNextFile(find, &fd));
        EXPECT_EQ(KzFindClose(find), 1);
        return names;
    }
    using Names = std::vector<std::string>;
    kztest::TempRoot root;
};

TEST_F(Files, MapPath_SeparatorsRootAndDotDot) {
    const std::pair<const char*, const char*> cases[] = {   // unit path, host path
        {"\\BACKUP\\x.ini", "BACKUP/x.ini"},
        {"BACKUP\\x.ini", "BACKUP/x.ini"},            // leading "\" optional
        {"/BACKUP//x.ini", "BACKUP/x.ini"},           // "/" separates too
        {"\\..\\..\\etc\\passwd", "etc/passwd"},      // never above the root
        {"\\A\\.\\B\\..\\C", "A/B/C"},
    };
    char out[512];
    for (const auto& [unit, host] : cases) {
        EXPECT_EQ(KzMapPath(unit, out, sizeof out), static_cast<int>(Under(host).size()));
        EXPECT_EQ(std::string(out), Under(host)) << unit;
    }
    EXPECT_EQ(KzMapPath("", out, sizeof out), static_cast<int>(root.path().size()));
    char small[8];
    EXPECT_EQ(KzMapPath("\\BACKUP\\x.ini", small, sizeof small), -1);
    EXPECT_STREQ(KzGetRootDir(), root.path().c_str());
}

TEST_F(Files, WriteFileAtomic_InjectedFailureKeepsOldFileAndLeavesNoTemporary) {
    root.Write("\\BACKUP\\tarn.ini", "[Device]\nName=old\n");
    const std::string fresh(4096, 'x');
    for (long failAfter : {0L, 1L, 4095L}) {
        KzInjectWriteFailure(failAfter);
        EXPECT_EQ(KzWriteFileAtomic("\\BACKUP\\tarn.ini", fresh.data(), fresh.size()), 0);
        EXPECT_EQ(root.Read("\\BACKUP\\tarn.ini"), "[Device]\nName=old\n") << failAfter;
    }
    EXPECT_EQ(Find("\\BACKUP\\*"), (Names{"./", "../", "tarn.ini=18"}));   // no temporary
    KzInjectWriteFailure(-1);
    EXPECT_EQ(KzWriteFileAtomic("\\BACKUP\\tarn.ini", fresh.data(), fresh.size()), 1);
    EXPECT_EQ(root.Read("\\BACKUP\\tarn.ini"), fresh);   // the longer old file wholly replaced
    EXPECT_EQ(KzWriteFileAtomic("\\NoSuchFolder\\x", "a", 1), 0);
    EXPECT_FALSE(root.Exists("\\NoSuchFolder"));
}

TEST_F(Files, WriteFileAtomic_RemovesTemporariesThatAKilledWriteLeft) {
    root.Write("\\BACKUP\\tarn.ini", "old");
    root.Write("\\BACKUP\\.tarn.ini.tmpAbC123", "torn");   // a write killed an hour ago
    root.Write("\\BACKUP\\.tarn.ini.tmpXyZ789", "live");   // another write, just begun
    root.Write("\\BACKUP\\.other.ini.tmpAbC123", "torn");  // another file's: not ours to judge
    const timeval hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimes(Under("BACKUP/.tarn.ini.tmpAbC123").c_str(), hourAgo), 0);
    ASSERT_EQ(utimes(Under("BACKUP/.other.ini.tmpAbC123").c_str(), hourAgo), 0);
    ASSERT_EQ(KzWriteFileAtomic("\\BACKUP\\tarn.ini", "new", 3), 1);
    EXPECT_EQ(Find("\\BACKUP\\*"), (Names{"./", "../", ".other.ini.tmpAbC123=4", ".tarn.ini.tmpXyZ789=4", "tarn.ini=3"}));
}

TEST_F(Files, AppendOpenAttributesDelete_OnMappedPaths) {
    EXPECT_EQ(KzAppendFile("\\Dir\\log.dat", "abc", 3), 0u);   // no such folder
    ASSERT_EQ(KzCreateDirectory("\\Dir"), 1);
    EXPECT_EQ(KzCreateDirectory("\\DIR"), 0);   // exists already, whatever the case
    EXPECT_EQ(KzAppendFile("\\dir\\log.dat", "abc", 3), 3u);
    EXPECT_EQ(KzAppendFile("\\DIR\\LOG.DAT", "de", 2), 2u);
    KzInjectWriteFailure(1);
    EXPECT_EQ(KzAppendFile("\\Dir\\log.dat", "xyz", 3), 1u);   // failed after one byte
    KzInjectWriteFailure(-1);
    FILE* f = KzFopen("dir\\LOG.DAT", "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(fread(buf, 1, sizeof buf, f), 6u);
    fclose(f);
    EXPECT_STREQ(buf, "abcdex");
    EXPECT_EQ(KzFopen("\\Dir\\missing.ini", "rb"), nullptr);
    for (const std::string text : {"first", "2nd"}) {   // created when missing, emptied when asked
        KzHandle h = KzCreateFile("\\Dir\\new.dat", KZ_GENERIC_WRITE, 0, KZ_CREATE_ALWAYS, 0);
        uint32_t n = 0;
        EXPECT_TRUE(KzWriteFile(h, text.data(), uint32_t(text.size()), &n) && n == text.size());
        KzCloseHandle(h);
    }
    EXPECT_EQ(root.Read("\\Dir\\new.dat"), "2nd");
    EXPECT_EQ(KzDeleteFile("\\Dir\\new.dat"), 1);

    EXPECT_EQ(KzGetFileAttributes("\\dir"), KZ_FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(KzGetFileAttributes("\\Dir\\log.dat"), KZ_FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(KzSetFileAttributes("\\Dir\\log.dat", KZ_FILE_ATTRIBUTE_READONLY), 1);
    EXPECT_EQ(KzGetFileAttributes("\\Dir\\log.dat"), KZ_FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(KzSetFileAttributes("\\Dir\\log.dat", KZ_FILE_ATTRIBUTE_NORMAL), 1);
    EXPECT_EQ(KzGetFileAttributes("\\Dir\\log.dat"), KZ_FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(KzGetFileAttributes("\\Dir\\none"), KZ_INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(KzRemoveDirectory("\\dir"), 0);   // not empty
    EXPECT_EQ(KzDeleteFile("\\DIR\\LOG.DAT"), 1);
    EXPECT_EQ(KzDeleteFile("\\Dir\\log.dat"), 0);
    EXPECT_EQ(KzRemoveDirectory("\\dir"), 1);
    EXPECT_FALSE(root.Exists("\\Dir"));
    EXPECT_EQ(KzRemoveDirectory("\\"), 0);   // never the root itself
}

TEST_F(Files, FindFirstFile_ExactNameOrSortedListingOrNothing) {
    root.Write("\\BACKUP\\KZ_TARN\\tarn.dat", "12345");
    root.Write("\\BACKUP\\KZ_TARN\\a.ini", "1");
    EXPECT_EQ(Find("\\backup\\kz_tarn"), (Names{"KZ_TARN/"}));
    EXPECT_EQ(Find("\\BACKUP\\KZ_TARN\\*"), (Names{"./", "../", "a.ini=1", "tarn.dat=5"}));
    EXPECT_EQ(Find("\\BACKUP\\KZ_TARN\\T*.DAT"), (Names{"tarn.dat=5"}));
    KzFindData fd;
    EXPECT_EQ(KzFindFirstFile("\\BACKUP\\nothing", &fd), KZ_INVALID_HANDLE);
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(KzFindFirstFile("\\", &fd), KZ_INVALID_HANDLE);
}

TEST_F(Files, ModuleFileName_IsAUnitPathInTheConfiguredFolder) {
    char out[260], tiny[4];
    const std::string program = program_invocation_short_name;
    unsetenv("KZ_TARN_EXE_DIR");
    EXPECT_EQ(std::string(out, KzGetModuleFileName(out, sizeof out)), "\\" + program);
    setenv("KZ_TARN_EXE_DIR", "NandFlash\\Application\\", 1);
    KzGetModuleFileName(out, sizeof out);
    EXPECT_EQ(std::string(out), "\\NandFlash\\Application\\" + program);
    EXPECT_EQ(KzGetModuleFileName(tiny, sizeof tiny), 3u);
    EXPECT_STREQ(tiny, "\\Na");
    unsetenv("KZ_TARN_EXE_DIR");
}

// Without hooks (the settings tests install them) a box answers no and no program starts.
TEST_F(Files, MessageBoxAndProcess_WithoutHooksAnswerNoAndStartNothing) {
    EXPECT_EQ(KzMessageBox(nullptr, "Delete?", "Bluetooth", KZ_MB_YESNO), KZ_IDNO);
    EXPECT_EQ(KzCreateProcess("\\NandFlash\\missing.exe"), 0);
}

}  // namespace
