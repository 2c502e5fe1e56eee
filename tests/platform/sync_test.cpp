// Events, named mutexes, waits and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kz_platform.h"

namespace {

// Manual events stay set; auto events are consumed lowest first; bad arguments never block.
TEST(WaitAny, AutoEventsConsumedLowestFirst_ManualStaysUntilReset_BadArgumentsFail) {
    KzHandle ev[5], manual = KzCreateEvent(1, 1);
    for (auto& e : ev) e = KzCreateEvent(0, 0);
    for (int i : {4, 1, 3}) KzSetEvent(ev[i]);
    for (uint32_t i : {1u, 3u, 4u}) EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_OBJECT_0 + i);
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_TIMEOUT);
    std::thread signaller([&] { KzSetEvent(ev[2]); });
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, KZ_INFINITE), KZ_WAIT_OBJECT_0 + 2);
    signaller.join();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(KzWaitForSingleObject(manual, 0), KZ_WAIT_OBJECT_0);
    KzResetEvent(manual);
    const uint32_t start = KzGetTickCount();
    EXPECT_EQ(KzWaitForSingleObject(manual, 50), KZ_WAIT_TIMEOUT);
    EXPECT_GE(KzGetTickCount() - start, 49u);
    EXPECT_LT(KzGetTickCount() - start, 1000u);

    KzHandle bogus = reinterpret_cast<KzHandle>(uintptr_t{0x7});
    EXPECT_EQ(KzWaitForSingleObject(bogus, KZ_INFINITE), KZ_WAIT_FAILED);
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_INVALID_HANDLE);
    EXPECT_EQ(KzWaitForMultipleObjects(1, ev, 1, 0), KZ_WAIT_FAILED);   // wait-all unsupported
    EXPECT_EQ(KzWaitForMultipleObjects(0, ev, 0, 0), KZ_WAIT_FAILED);
    EXPECT_EQ(KzWaitForMultipleObjects(KZ_MAXIMUM_WAIT_OBJECTS + 1, ev, 0, 0), KZ_WAIT_FAILED);
    for (auto& e : ev) EXPECT_EQ(KzCloseHandle(e), 1);
    EXPECT_EQ(KzCloseHandle(ev[0]), 0);   // already closed
    EXPECT_EQ(KzSetEvent(ev[0]), 0);
    KzCloseHandle(manual);
}

uint32_t TryMutex(KzHandle mutex) {
    std::atomic<uint32_t> got{KZ_WAIT_FAILED};
    std::thread t([&] {
        got = KzWaitForSingleObject(mutex, 0);
        if (got == KZ_WAIT_OBJECT_0) KzReleaseMutex(mutex);
    });
    t.join();
    return got;
}

TEST(NamedMutex, OneRecursiveObjectPerNameOwnedByOneThread) {
    KzHandle a = KzCreateMutex("MUTEX_TEST"), b = KzCreateMutex("MUTEX_TEST");
    KzHandle other = KzCreateMutex("MUTEX_OTHER");
    ASSERT_NE(a, b);
    EXPECT_EQ(KzWaitForSingleObject(a, 0), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzWaitForSingleObject(b, 0), KZ_WAIT_OBJECT_0);   // recursive, same object
    EXPECT_EQ(TryMutex(b), KZ_WAIT_TIMEOUT);
    EXPECT_EQ(TryMutex(other), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzReleaseMutex(b), 1);
    EXPECT_EQ(TryMutex(a), KZ_WAIT_TIMEOUT);                     // still held once
    std::thread([&] {   // only the owner may release
        EXPECT_EQ(KzReleaseMutex(a), 0);
        EXPECT_EQ(KzGetLastError(), 288u);
    }).join();
    EXPECT_EQ(KzReleaseMutex(a), 1);
    EXPECT_EQ(KzReleaseMutex(a), 0);
    EXPECT_EQ(TryMutex(a), KZ_WAIT_OBJECT_0);
    for (KzHandle h : {a, b, other}) KzCloseHandle(h);
}

uint32_t WaitThenReturn(void* events) {   // go, done
    KzWaitForSingleObject(static_cast<KzHandle*>(events)[0], KZ_INFINITE);
    KzSetEvent(static_cast<KzHandle*>(events)[1]);
    return 42;
}

TEST(Threads, SignalledWithExitCodeWhenEnded_ClosedEarlyRunsOn) {
    KzHandle ev[2] = {KzCreateEvent(0, 0), KzCreateEvent(0, 0)}, thread = KzCreateThread(&WaitThenReturn, ev);
    uint32_t code = 0;
    EXPECT_EQ(KzGetExitCodeThread(thread, &code) * code, KZ_STILL_ACTIVE);
    KzSetEvent(ev[0]);
    EXPECT_EQ(KzWaitForSingleObject(thread, 5000) + KzWaitForSingleObject(thread, 0), 0u);   // not consumed
    EXPECT_EQ(KzGetExitCodeThread(thread, &code) * code, 42u);
    EXPECT_EQ(KzCloseHandle(thread), 1);
    KzWaitForSingleObject(ev[1], 0);
    KzCloseHandle(KzCreateThread(&WaitThenReturn, ev));   // closed while it runs: detached
    KzSetEvent(ev[0]);
    EXPECT_EQ(KzWaitForSingleObject(ev[1], 5000), KZ_WAIT_OBJECT_0);
    for (KzHandle h : ev) KzCloseHandle(h);
}

}  // namespace
