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
    }
};

TEST_F(Messages, FindWindow_MatchesTitleAndOrClass) {
    KzRegisterClass("OtherClass", &RecordingProc, 0);
    KzHwnd a = KzCreateWindow("TestClass", "Bluetooth", 0);
    KzHwnd b = KzCreateWindow("OtherClass", "NavigRecive", 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(KzFindWindow(nullptr, "Bluetooth"), a);
    EXPECT_EQ(KzFindWindow("OtherClass", nullptr), b);
    EXPECT_EQ(KzFindWindow("TestClass", "NavigRecive"), nullptr);
    EXPECT_EQ(KzFindWindow(nullptr, "bluetooth"), nullptr);   // exact match
    EXPECT_EQ(KzSetWindowText(b, "Renamed"), 1);
    EXPECT_EQ(KzFindWindow(nullptr, "NavigRecive"), nullptr);
    EXPECT_EQ(KzFindWindow(nullptr, "Renamed"), b);
    EXPECT_EQ(KzDestroyWindow(a), 1);
    EXPECT_EQ(KzFindWindow(nullptr, "Bluetooth"), nullptr);
    EXPECT_EQ(KzIsWindow(a), 0);
    EXPECT_EQ(KzSendMessage(a, KZ_WM_USER, 0, 0), 0);   // stale handle is ignored
    KzDestroyWindow(b);
}

TEST_F(Messages, RegisterClass_TwiceFailsAndUnknownClassMakesNoWindow) {
    EXPECT_EQ(KzRegisterClass("TestClass", &RecordingProc, 0), 0);
    EXPECT_EQ(KzCreateWindow("NoSuchClass", "x", 0), nullptr);
}

TEST_F(Messages, SendMessage_RunsOnTheCallersThread) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    std::thread::id sender;
    KzLResult result = 0;
    std::thread t([&] {
        sender = std::this_thread::get_id();
        result = KzSendMessage(w, KZ_WM_USER + 1, 7, 41);
    });
    t.join();
    EXPECT_EQ(result, 42);
    auto seen = SeenSoFar();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].msg, KZ_WM_USER + 1);
    EXPECT_EQ(seen[0].thread, sender);
    KzDestroyWindow(w);
}

TEST_F(Messages, PostMessage_DeliveredInOrderByTheOwningThread) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    std::thread poster([&] {
        for (KzWParam i = 0; i < 3; ++i) EXPECT_EQ(KzPostMessage(w, KZ_WM_USER, i, 0), 1);
    });
    poster.join();
    EXPECT_TRUE(SeenSoFar().empty());   // nothing runs until the owner pumps
    ASSERT_TRUE(PumpUntil(3));
    auto seen = SeenSoFar();
    for (KzWParam i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].wParam, i);
        EXPECT_EQ(seen[i].thread, std::this_thread::get_id());
    }
    KzDestroyWindow(w);
}

TEST_F(Messages, PostMessage_FromManyThreadsEachArrivesOnceInPosterOrder) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([w, t] {
            for (int i = 0; i < kEach; ++i) KzPostMessage(w, KZ_WM_USER + t, i, 0);
        });
    ASSERT_TRUE(PumpUntil(kThreads * kEach));   // received while the posters run
    for (auto& p : posters) p.join();
    std::vector<KzWParam> next(kThreads, 0);
    for (const auto& s : SeenSoFar()) EXPECT_EQ(s.wParam, next[s.msg - KZ_WM_USER]++);
    for (auto n : next) EXPECT_EQ(n, KzWParam(kEach));
    KzDestroyWindow(w);
}

TEST_F(Messages, GetMessage_BlocksUntilAnotherThreadPosts) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    std::thread poster([w] { KzPostMessage(w, KZ_WM_USER, 77, 0); });
    KzMsg m;
    ASSERT_EQ(KzGetMessage(&m), 1);
    EXPECT_EQ(m.hwnd, w);
    EXPECT_EQ(m.wParam, 77u);
    poster.join();
    KzDestroyWindow(w);
}

TEST_F(Messages, DestroyWindow_DropsItsPendingPosts) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    KzPostMessage(w, KZ_WM_USER, 1, 0);
    KzDestroyWindow(w);
    KzMsg m;
    EXPECT_EQ(KzPeekMessage(&m, 0), 0);
    EXPECT_EQ(KzPostMessage(w, KZ_WM_USER, 2, 0), 0);
}

TEST_F(Messages, GetMessage_ReturnsZeroOnQuitAfterEarlierPosts) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    KzPostMessage(w, KZ_WM_USER, 5, 0);
    KzPostQuitMessage(3);
    KzMsg m;
    ASSERT_EQ(KzGetMessage(&m), 1);
    EXPECT_EQ(m.wParam, 5u);
    ASSERT_EQ(KzGetMessage(&m), 0);
    EXPECT_EQ(m.message, KZ_WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
    KzDestroyWindow(w);
}

TEST_F(Messages, PostMessage_ToAWindowOfAnEndedThreadFails) {
    KzHwnd w = nullptr;
    std::thread t([&] { w = KzCreateWindow("TestClass", "Orphan", 0); });
    t.join();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(KzPostMessage(w, KZ_WM_USER, 0, 0), 0);
    EXPECT_EQ(KzSendMessage(w, KZ_WM_USER, 0, 1), 2);   // sending still works
    KzDestroyWindow(w);
}

TEST_F(Messages, ThreadTimer_FiresOnTheSettingThreadWithAFreshId) {
    uintptr_t id = KzSetTimer(nullptr, 1, 10, &RecordingTimer);
    ASSERT_NE(id, 0u);
    uintptr_t second = KzSetTimer(nullptr, 0, 10, &RecordingTimer);
    EXPECT_NE(second, id);
    KzKillTimer(nullptr, second);
    ASSERT_TRUE(PumpUntil(2));
    EXPECT_EQ(KzKillTimer(nullptr, id), 1);
    EXPECT_EQ(KzKillTimer(nullptr, id), 0);
    for (const auto& s : SeenSoFar()) {
        EXPECT_EQ(s.msg, KZ_WM_TIMER);
        EXPECT_EQ(s.wParam, id);
        EXPECT_EQ(s.thread, std::this_thread::get_id());
    }
}

TEST_F(Messages, Timer_PostedMessagesComeFirstAndOnlyOneTickIsPending) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    EXPECT_EQ(KzSetTimer(w, 9, 1, nullptr), 9u);   // window timer without a procedure
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
    EXPECT_EQ(KzKillTimer(w, 9), 1);
    ASSERT_EQ(SeenSoFar().size(), 1u);
    EXPECT_EQ(SeenSoFar()[0].msg, KZ_WM_TIMER);
    KzDestroyWindow(w);
}

TEST_F(Messages, WindowTimer_SameIdReplacesTheTimer) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    KzSetTimer(w, 4, 10, nullptr);
    KzSetTimer(w, 4, 10, &RecordingTimer);   // replaces: now with a procedure
    KzMsg m;
    ASSERT_EQ(KzPeekMessage(&m, 3000), 1);
    EXPECT_EQ(m.timerProc, &RecordingTimer);
    EXPECT_EQ(KzKillTimer(w, 4), 1);
    EXPECT_EQ(KzKillTimer(w, 4), 0);   // there was only one
    KzDestroyWindow(w);
}

TEST_F(Messages, PumpMessages_DispatchesAndLeavesQuitForTheLoop) {
    KzHwnd w = KzCreateWindow("TestClass", "Target", 0);
    KzPostMessage(w, KZ_WM_USER, 1, 0);
    KzPostQuitMessage(0);
    KzPumpMessages(0);
    EXPECT_EQ(SeenSoFar().size(), 1u);
    KzMsg m;
    EXPECT_EQ(KzGetMessage(&m), 0);
    KzDestroyWindow(w);
}

}  // namespace
