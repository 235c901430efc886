// Events, waits and threads of the platform layer's kernel part.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/module.h"

namespace {

TEST(KernelEvent, ManualAndAutoReset) {
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE autoreset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  ASSERT_TRUE(manual && autoreset);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(manual, 5), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, INFINITE), WAIT_OBJECT_0);  // stays signalled
  EXPECT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

  EXPECT_EQ(WaitForSingleObject(autoreset, 0), WAIT_OBJECT_0);  // initially signalled
  EXPECT_EQ(WaitForSingleObject(autoreset, 0), WAIT_TIMEOUT);   // reset by the wait
  // A pulse with nobody waiting only resets.
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_TRUE(PulseEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_TRUE(CloseHandle(autoreset));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(manual));
}

TEST(KernelEvent, PulseReleasesWaitersAndLeavesReset) {
  for (BOOL manual : {TRUE, FALSE}) {
    HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&] {
        if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) ++released;
      });
    }
    int pulses = 0;
    while (released < 3) {
      PulseEvent(event);
      ++pulses;
      std::this_thread::yield();
    }
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released, 3);
    if (!manual) {
      EXPECT_GE(pulses, 3);  // one waiter per pulse
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
  }
}

TEST(KernelEvent, NamedEventsAreOneObject) {
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, "orvane-test-event");
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE b = CreateEventA(nullptr, TRUE, FALSE, "orvane-test-event");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_NE(a, b);
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  CloseHandle(a);
  CloseHandle(b);
}

unsigned WaitThenReturn(void* arg) {
  HANDLE go = static_cast<HANDLE>(arg);
  WaitForSingleObject(go, INFINITE);
  return 42;
}

TEST(KernelThread, ExitCodeWaitAndPriority) {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  unsigned id = 0;
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WaitThenReturn, go, 0, &id));
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 1), WAIT_TIMEOUT);
  EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST);
  EXPECT_FALSE(SetThreadPriority(thread, 7));
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);
  CloseHandle(go);
}

TEST(KernelThread, UnsafeOperationsFailAndSuspendedStartIsRefused) {
  HANDLE self = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(self, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(self, 0), WAIT_TIMEOUT);
  EXPECT_FALSE(TerminateThread(self, 1));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_EQ(SuspendThread(self), static_cast<DWORD>(-1));
  EXPECT_EQ(ResumeThread(self), static_cast<DWORD>(-1));
  EXPECT_FALSE(AttachThreadInput(1, 2, TRUE));
  // Unloading the code the thread would return into cannot work: refused, and the thread goes on.
  SetLastError(0);
  FreeLibraryAndExitThread(GetModuleHandleA(nullptr), 3);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_TRUE(CloseHandle(self));
  EXPECT_EQ(_beginthreadex(nullptr, 0, WaitThenReturn, nullptr, CREATE_SUSPENDED, nullptr), 0u);
  EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
}

TEST(KernelThread, LastErrorIsPerThread) {
  SetLastError(77);
  std::thread([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
  }).join();
  EXPECT_EQ(GetLastError(), 77u);
}

}  // namespace
