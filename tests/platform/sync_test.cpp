// Events, named mutexes, waits and threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kz_platform.h"

namespace {

TEST(Event_AutoReset, SatisfiedWaitResetsIt) {
    KzHandle ev = KzCreateEvent(0, 0);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_TIMEOUT);   // created unsignalled
    KzSetEvent(ev);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_TIMEOUT);
    KzCloseHandle(ev);
}

TEST(Event_ManualReset, StaysSignalledUntilReset) {
    KzHandle ev = KzCreateEvent(1, 1);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_OBJECT_0);
    KzResetEvent(ev);
    EXPECT_EQ(KzWaitForSingleObject(ev, 0), KZ_WAIT_TIMEOUT);
    KzCloseHandle(ev);
}

TEST(WaitAny_SeveralSignalled, ReturnsLowestIndexAndConsumesOnlyIt) {
    KzHandle ev[5];
    for (auto& e : ev) e = KzCreateEvent(0, 0);
    KzSetEvent(ev[4]);
    KzSetEvent(ev[1]);
    KzSetEvent(ev[3]);
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_OBJECT_0 + 1);
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_OBJECT_0 + 3);
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_OBJECT_0 + 4);
    EXPECT_EQ(KzWaitForMultipleObjects(5, ev, 0, 0), KZ_WAIT_TIMEOUT);
    for (auto& e : ev) KzCloseHandle(e);
}

TEST(WaitAny_Blocked, WakesWhenAnotherThreadSignals) {
    KzHandle ev[2] = {KzCreateEvent(0, 0), KzCreateEvent(0, 0)};
    std::thread signaller([&] { KzSetEvent(ev[1]); });
    EXPECT_EQ(KzWaitForMultipleObjects(2, ev, 0, KZ_INFINITE), KZ_WAIT_OBJECT_0 + 1);
    signaller.join();
    KzCloseHandle(ev[0]);
    KzCloseHandle(ev[1]);
}

TEST(Wait_BadArguments, FailWithoutBlocking) {
    KzHandle ev = KzCreateEvent(0, 1);
    KzHandle bogus = reinterpret_cast<KzHandle>(uintptr_t{0x7});
    EXPECT_EQ(KzWaitForSingleObject(bogus, KZ_INFINITE), KZ_WAIT_FAILED);
    EXPECT_EQ(KzGetLastError(), KZ_ERROR_INVALID_HANDLE);
    EXPECT_EQ(KzWaitForMultipleObjects(1, &ev, 1, 0), KZ_WAIT_FAILED);   // wait-all unsupported
    EXPECT_EQ(KzWaitForMultipleObjects(0, &ev, 0, 0), KZ_WAIT_FAILED);
    EXPECT_EQ(KzWaitForMultipleObjects(KZ_MAXIMUM_WAIT_OBJECTS + 1, &ev, 0, 0), KZ_WAIT_FAILED);
    EXPECT_EQ(KzCloseHandle(ev), 1);
    EXPECT_EQ(KzCloseHandle(ev), 0);   // already closed
    EXPECT_EQ(KzSetEvent(ev), 0);
}

TEST(Wait_Timeout, ReturnsAfterAboutTheTimeout) {
    KzHandle ev = KzCreateEvent(0, 0);
    uint32_t start = KzGetTickCount();
    EXPECT_EQ(KzWaitForSingleObject(ev, 50), KZ_WAIT_TIMEOUT);
    uint32_t elapsed = KzGetTickCount() - start;
    EXPECT_GE(elapsed, 49u);
    EXPECT_LT(elapsed, 1000u);
    KzCloseHandle(ev);
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

TEST(NamedMutex_SameName, IsOneRecursiveObjectAcrossHandlesAndThreads) {
    KzHandle a = KzCreateMutex("MUTEX_TEST");
    KzHandle b = KzCreateMutex("MUTEX_TEST");
    KzHandle other = KzCreateMutex("MUTEX_OTHER");
    ASSERT_NE(a, b);
    EXPECT_EQ(KzWaitForSingleObject(a, 0), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzWaitForSingleObject(b, 0), KZ_WAIT_OBJECT_0);   // recursive, same object
    EXPECT_EQ(TryMutex(b), KZ_WAIT_TIMEOUT);
    EXPECT_EQ(TryMutex(other), KZ_WAIT_OBJECT_0);                // other names are free
    EXPECT_EQ(KzReleaseMutex(b), 1);
    EXPECT_EQ(TryMutex(a), KZ_WAIT_TIMEOUT);                     // still held once
    EXPECT_EQ(KzReleaseMutex(a), 1);
    EXPECT_EQ(KzReleaseMutex(a), 0);                             // not held any more
    EXPECT_EQ(TryMutex(a), KZ_WAIT_OBJECT_0);
    for (KzHandle h : {a, b, other}) KzCloseHandle(h);
}

TEST(NamedMutex_HeldByAnotherThread, WaiterGetsItOnRelease) {
    KzHandle mutex = KzCreateMutex("MUTEX_HANDOVER");
    KzHandle acquired = KzCreateEvent(0, 0), release = KzCreateEvent(0, 0);
    std::thread owner([&] {
        KzWaitForSingleObject(mutex, KZ_INFINITE);
        KzSetEvent(acquired);
        KzWaitForSingleObject(release, KZ_INFINITE);
        KzReleaseMutex(mutex);
    });
    ASSERT_EQ(KzWaitForSingleObject(acquired, 5000), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzReleaseMutex(mutex), 0);   // only the owner may release
    EXPECT_EQ(KzGetLastError(), 288u);
    KzSetEvent(release);
    EXPECT_EQ(KzWaitForSingleObject(mutex, 5000), KZ_WAIT_OBJECT_0);
    owner.join();
    KzReleaseMutex(mutex);
    for (KzHandle h : {mutex, acquired, release}) KzCloseHandle(h);
}

struct ThreadArgs {
    KzHandle go;
    KzHandle done;
};

uint32_t WaitThenReturn(void* arg) {
    auto* a = static_cast<ThreadArgs*>(arg);
    KzWaitForSingleObject(a->go, KZ_INFINITE);
    if (a->done) KzSetEvent(a->done);
    return 42;
}

TEST(Thread_Wait, SignalledWhenEndedWithItsExitCode) {
    ThreadArgs args{KzCreateEvent(0, 0), nullptr};
    KzHandle thread = KzCreateThread(&WaitThenReturn, &args);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(KzSetThreadPriority(thread, 1), 1);
    uint32_t code = 0;
    EXPECT_EQ(KzGetExitCodeThread(thread, &code), 1);
    EXPECT_EQ(code, KZ_STILL_ACTIVE);
    EXPECT_EQ(KzWaitForSingleObject(thread, 0), KZ_WAIT_TIMEOUT);
    KzSetEvent(args.go);
    EXPECT_EQ(KzWaitForSingleObject(thread, 5000), KZ_WAIT_OBJECT_0);
    EXPECT_EQ(KzWaitForSingleObject(thread, 0), KZ_WAIT_OBJECT_0);   // not consumed
    EXPECT_EQ(KzGetExitCodeThread(thread, &code), 1);
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(KzCloseHandle(thread), 1);
    KzCloseHandle(args.go);
}

TEST(Thread_CloseWhileRunning, DetachesAndTheThreadRunsOn) {
    ThreadArgs args{KzCreateEvent(0, 0), KzCreateEvent(0, 0)};
    KzHandle thread = KzCreateThread(&WaitThenReturn, &args);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(KzCloseHandle(thread), 1);
    KzSetEvent(args.go);
    EXPECT_EQ(KzWaitForSingleObject(args.done, 5000), KZ_WAIT_OBJECT_0);
    KzCloseHandle(args.go);
    KzCloseHandle(args.done);
}

}  // namespace
