// Windows, posted and sent messages, the message loop and timers.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "kz_platform.h"
#include "support/test_support.h"

namespace {

struct Seen {
    uint32_t msg;
    KzWParam wParam;
    std::thread::id thread;
};
std::mutex g_mutex;
std::vector<Seen> g_seen;

void Record(uint32_t msg, KzWParam w) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_seen.push_back({msg, w, std::this_thread::get_id()});
}
std::vector<Seen> SeenSoFar() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_seen;
}
KzLResult RecordingProc(KzHwnd, uint32_t msg, KzWParam w, KzLParam l) {
    Record(msg, w);
    return l + 1;
}
void RecordingTimer(KzHwnd, uint32_t msg, uintptr_t id, uint32_t) { Record(msg, id); }

// Runs the calling thread's loop until n messages were recorded or 3 s passed.
bool PumpUntil(size_t n) {
    KzMsg m;
    return kztest::PollUntil([&] { return SeenSoFar().size() >= n; }, 3000,
                             [&] { if (KzPeekMessage(&m, 10)) KzDispatchMessage(&m); });
}

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_seen.clear();
        KzRegisterClass("TestClass", &RecordingProc, KZ_CS_HREDRAW | KZ_CS_VREDRAW);
        w = KzCreateWindow("TestClass", "Target", 0);
    }
    void TearDown() override { KzDestroyWindow(w); }
    KzHwnd w = nullptr;
};

TEST_F(Messages, FindWindow_ByTitleOrClassUntilRenamedOrDestroyed) {
    EXPECT_EQ(KzRegisterClass("TestClass", &RecordingProc, 0), 0);   // registered twice
    EXPECT_EQ(KzCreateWindow("NoSuchClass", "x", 0), nullptr);
    KzRegisterClass("OtherClass", &RecordingProc, 0);
    KzHwnd b = KzCreateWindow("OtherClass", "NavigRecive", 0);
    ASSERT_TRUE(w && b);
    EXPECT_EQ(KzFindWindow(nullptr, "Target"), w);
    EXPECT_EQ(KzFindWindow("OtherClass", nullptr), b);
    EXPECT_EQ(KzFindWindow("TestClass", "NavigRecive"), nullptr);
    EXPECT_EQ(KzFindWindow(nullptr, "target"), nullptr);   // exact match
    EXPECT_EQ(KzSetWindowText(b, "Renamed"), 1);
    EXPECT_EQ(KzFindWindow(nullptr, "NavigRecive"), nullptr);
    EXPECT_EQ(KzFindWindow(nullptr, "Renamed"), b);
    EXPECT_TRUE(KzIsWindow(b) && KzDestroyWindow(b));
    EXPECT_EQ(KzFindWindow(nullptr, "Renamed"), nullptr);
    EXPECT_EQ(KzIsWindow(b), 0);
    EXPECT_EQ(KzSendMessage(b, KZ_WM_USER, 0, 0), 0);   // stale handle is ignored
}

TEST_F(Messages, PostsAndTimersFail_ToADestroyedWindow_PostsToAnEndedThreadsWindow) {
    KzPostMessage(w, KZ_WM_USER, 1, 0);
    KzDestroyWindow(w);
    KzMsg m;
    EXPECT_EQ(KzPeekMessage(&m, 0), 0);   // its pending post dropped
    EXPECT_EQ(KzPostMessage(w, KZ_WM_USER, 2, 0), 0);
    EXPECT_EQ(KzSetTimer(w, 1, 10, nullptr), 0u);
    std::thread t([&] { w = KzCreateWindow("TestClass", "Orphan", 0); });
    t.join();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(KzPostMessage(w, KZ_WM_USER, 0, 0), 0);
    EXPECT_EQ(KzSendMessage(w, KZ_WM_USER, 0, 1), 2);   // sending still works
}

TEST_F(Messages, ThreadTimer_FiresOnTheSettingThreadWithAFreshId) {
    uintptr_t id = KzSetTimer(nullptr, 1, 10, &RecordingTimer), second = KzSetTimer(nullptr, 0, 10, &RecordingTimer);
    ASSERT_NE(id, 0u);
    EXPECT_NE(second, id);
    KzKillTimer(nullptr, second);
    ASSERT_TRUE(PumpUntil(2));
    EXPECT_TRUE(KzKillTimer(nullptr, id)) << "the running timer";
    EXPECT_FALSE(KzKillTimer(nullptr, id)) << "killed already";
    for (const auto& s : SeenSoFar())
        EXPECT_TRUE(s.msg == KZ_WM_TIMER && s.wParam == id && s.thread == std::this_thread::get_id());
}

TEST_F(Messages, WindowTimer_AfterPostsOneTickPendingSameIdReplaces) {
    EXPECT_EQ(KzSetTimer(w, 9, 1, nullptr), 9u);   // without a procedure
    KzSleep(30);   // many periods pass while the loop does not run
    KzPostMessage(w, KZ_WM_USER, 1, 0);
    KzMsg m;
    ASSERT_EQ(KzPeekMessage(&m, 0), 1);
    EXPECT_EQ(m.message, KZ_WM_USER);
    ASSERT_EQ(KzPeekMessage(&m, 0), 1);
    EXPECT_EQ(m.message, KZ_WM_TIMER);
    EXPECT_EQ(m.wParam, 9u);
    KzDispatchMessage(&m);   // reaches the window procedure
    EXPECT_EQ(KzPeekMessage(&m, 0), 0);   // the missed periods did not pile up
    ASSERT_EQ(SeenSoFar().size(), 1u);
    EXPECT_EQ(SeenSoFar()[0].msg, KZ_WM_TIMER);

    KzSetTimer(w, 9, 10, &RecordingTimer);   // replaces: now with a procedure
    ASSERT_EQ(KzPeekMessage(&m, 3000), 1);
    EXPECT_EQ(m.timerProc, &RecordingTimer);
    EXPECT_EQ(KzKillTimer(w, 9), 1);
    EXPECT_EQ(KzKillTimer(w, 9), 0);   // there was only one
}

}  // namespace
