// Faults under the library: the serial line hung up or gone, files whose
// rewrite fails or is killed half-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "KZ_Tarn.h"
#include "channel/module_ids.h"
#include "events/calls.h"
#include "events/connection.h"
#include "kz_platform.h"
#include "link/bcsp_link.h"
#include "phone_session.h"
#include "phonebook/download.h"
#include "phonebook/phonebook_files.h"
#include "module_simulator.h"
#include "support/library_on_sim.h"
#include "support/test_support.h"

namespace {

using namespace kztest;

// Process CPU time (all threads), in milliseconds.
double CpuMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

// CPU used by the whole process while the test thread sleeps for ms.
double CpuShareOver(uint32_t ms) {
    const double before = CpuMs();
    KzSleep(ms);
    return (CpuMs() - before) / ms;
}

// An idle library, or one whose line is dead, costs next to nothing: a
// busy loop would take a whole core (share near 1).
constexpr double kIdleCpuShare = 0.05;
constexpr uint32_t kCpuWindowMs = 2000;

bool WaitLinkUpOnHost(uint32_t ms) {
    return PollUntil([] { return kz::ubcsp_config.link_establishment_state == kz::kGarrulous; }, ms);
}

TEST(SerialFault, LineHungUp_NoBusyLoopAndANewInitWorks) {
    ResetAllState();
    TempRoot root;
    HostWindows host;
    auto sim = std::make_unique<kzsim::ModuleSimulator>();
    ASSERT_TRUE(sim->Start());
    setenv("KZ_TARN_COM3", sim->DevicePath().c_str(), 1);
    KZ_BT_DeviceInit();
    ASSERT_TRUE(sim->WaitForMessage(kz::msgid::kModuleReady, 5000));

    const double idle = CpuShareOver(kCpuWindowMs);
    // The module goes away: its end of the line closes, the device node with it.
    sim->Stop();
    sim.reset();
    const double dead = CpuShareOver(kCpuWindowMs);
    std::printf("cpu share: idle %.4f, line hung up %.4f\n", idle, dead);
    EXPECT_LT(idle, kIdleCpuShare);
    EXPECT_LT(dead, kIdleCpuShare);

    EXPECT_EQ(KZ_BT_CloseDevice(), 1);   // what closing the handle returned
    // A new module on a new line: the library, still garrulous from before,
    // takes the module's sync as a peer reset and comes up again.
    sim = std::make_unique<kzsim::ModuleSimulator>();
    ASSERT_TRUE(sim->Start());
    setenv("KZ_TARN_COM3", sim->DevicePath().c_str(), 1);
    KZ_BT_DeviceInit();
    EXPECT_TRUE(sim->WaitLinkUp(5000));
    EXPECT_TRUE(sim->WaitForMessage(kz::msgid::kModuleReady, 5000));
    EXPECT_TRUE(WaitLinkUpOnHost(5000));
    KZ_BT_CloseDevice();
    sim->Stop();
    unsetenv("KZ_TARN_COM3");
    ResetAllState();
}

// A device missing at init (idle, then a later init works) is the lifecycle test's.

// ------------------------------------------------------------ file rewrites

std::string Content(char fill, size_t n) { return std::string(n, fill); }

TEST(FileFault, WriteFailsHalfWay_OldContentStays) {
    TempRoot root;
    const char* path = "\\BACKUP\\KZ_TARN\\tarn.dat";
    const std::string old = Content('o', 4096);
    root.Write(path, old);
    // A disk that fills up after 0, 1 and 1000 bytes, and a full write that
    // fails only at its very end.
    for (long after : {0L, 1L, 1000L, 8191L}) {
        SCOPED_TRACE(after);
        KzInjectWriteFailure(after);
        const std::string fresh = Content('n', 8192);
        EXPECT_EQ(KzWriteFileAtomic(path, fresh.data(), fresh.size()), 0);
        KzInjectWriteFailure(-1);
        EXPECT_EQ(root.Read(path), old);
    }
}

// Rewrites alternate between two contents as fast as they can until killed.
[[noreturn]] void RewriteForever(const char* path, const std::string& a, const std::string& b) {
    for (unsigned i = 0;; ++i) {
        const std::string& c = (i & 1) ? b : a;
        KzWriteFileAtomic(path, c.data(), c.size());
    }
}

TEST(FileFault, KilledDuringRewrite_FileIsWholeOldOrNew) {
    TempRoot root;
    const char* path = "\\BACKUP\\KZ_Config\\BlueTooth\\PhoneBook00.dat";
    const std::string first = Content('0', 64 * 1024);
    const std::string a = Content('a', 256 * 1024), b = Content('b', 96 * 1024);
    root.Write(path, first);
    constexpr int kKills = 25;
    unsigned seed = 7;
    for (int k = 0; k < kKills; ++k) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) RewriteForever(path, a, b);
        KzSleep(1 + rand_r(&seed) % 40);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string now = root.Read(path);
        EXPECT_TRUE(now == first || now == a || now == b)
            << "kill " << k << ": torn file of " << now.size() << " bytes";
    }
    // Each kill inside a write leaves its temporary file behind (hidden, beside
    // the target); the target itself is never touched half-way.
    int temps = 0;
    if (DIR* d = opendir(root.Host("\\BACKUP\\KZ_Config\\BlueTooth").c_str())) {
        while (dirent* e = readdir(d)) temps += e->d_name[0] == '.' && e->d_name[1] == 'P';
        closedir(d);
    }
    std::printf("%d kills, %d of them inside a write (temporary files left)\n", kKills, temps);
}

}  // namespace

// ------------------------------------------------------------ module reset

namespace {

bool LinkBackAfterReset(kztest::PhoneSession& s) {
    return s.PumpUntil(
        [] {
            return kz::ubcsp_config.link_establishment_state == kz::kGarrulous &&
                   kz::g_bModuleInited.load();
        },
        10000);
}

}  // namespace

TEST(ModuleReset, DuringPhonebookDownload_LinkReturnsAndANewDownloadIsWhole) {
    kztest::PhoneSession s;
    constexpr size_t kContacts = 60;
    s.phone().setContacts(kztest::NumberedContacts(kContacts));
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    kz::GetPhoneBookSize(KZ_PB_PHONEBOOK);
    ASSERT_TRUE(s.PumpUntil([&] { return s.Count(KZ_NOTIFY_PHONEBOOK_ENTRY) >= 10; }, 10000));
    kz::g_bModuleInited = 0;
    s.lib().sim().PeerReset();
    s.phone().Reset();
    ASSERT_TRUE(LinkBackAfterReset(s));
    EXPECT_FALSE(kz::startDownload.load());   // the interrupted batch is over
    ASSERT_TRUE(s.ConnectPhone(10000));
    ASSERT_TRUE(s.DownloadPhonebook(20000));
    EXPECT_EQ(s.lib().root().Read(kz::PhoneBookFilePath(0)).size(), kContacts * sizeof(structPhoneDate));
}

TEST(ModuleReset, DuringACall_LinkReturnsAndTheNextCallWorks) {
    kztest::PhoneSession s;
    ASSERT_TRUE(s.Start(5000));
    ASSERT_TRUE(s.ConnectPhone(10000));
    s.phone().ring("+4930111");
    ASSERT_TRUE(s.PumpUntil([] { return kz::g_nCallSetup.load() == 1; }, 5000));
    s.phone().answer();
    ASSERT_TRUE(s.PumpUntil([] { return kz::g_bCallActive.load() != 0; }, 5000));
    kz::g_bModuleInited = 0;
    s.lib().sim().PeerReset();
    s.phone().Reset();
    ASSERT_TRUE(LinkBackAfterReset(s));
    EXPECT_FALSE(kz::g_bHfpConnected.load());
    ASSERT_TRUE(s.ConnectPhone(10000));
    EXPECT_TRUE(s.TakeCall("+4930222", 10000));
}
