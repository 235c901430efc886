// Tests of the millisecond clock and its virtual stand-in, the timer resolution calls, Sleep, and
// the waits for several objects and for the message queue.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/mmsystem.h"
#include "platform/win32.h"

namespace clk = orvane::clock;

namespace {

class RealClock : public ::testing::Test {
 protected:
  void TearDown() override {
    clk::UseRealClock();
    clk::FailTimerCaps(false);
  }
};

using VirtualClock = RealClock;
using Waits = RealClock;

HANDLE Event(bool manual, bool set) {
  return CreateEventA(nullptr, manual ? TRUE : FALSE, set ? TRUE : FALSE, nullptr);
}

// Whether the event is still signalled (tested without consuming a manual event; an auto-reset
// one is set again).
bool IsSet(HANDLE e) {
  return WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
}

void DrainQueue() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

TEST_F(RealClock, TimeGetTimeIsTheMonotonicClockInMilliseconds) {
  DWORD before = static_cast<DWORD>(orvane::MonotonicMs());
  DWORD t = timeGetTime();
  DWORD after = static_cast<DWORD>(orvane::MonotonicMs());
  EXPECT_LE(t - before, after - before);
  Sleep(20);
  EXPECT_GE(timeGetTime() - t, 20u);
}

TEST_F(RealClock, DevCapsAndPeriodsCountAndFailWhenAsked) {
  TIMECAPS caps{};
  ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
  EXPECT_EQ(caps.wPeriodMin, 1u);
  EXPECT_GE(caps.wPeriodMax, 1000u);
  EXPECT_EQ(timeGetDevCaps(nullptr, sizeof caps), TIMERR_NOCANDO);
  EXPECT_EQ(timeGetDevCaps(&caps, 4), TIMERR_NOCANDO);

  int held = clk::HeldTimerPeriods();
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO);  // never begun
  ASSERT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(clk::HeldTimerPeriods(), held + 1);
  EXPECT_EQ(timeEndPeriod(2), TIMERR_NOCANDO);  // another period than the one held
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);
  EXPECT_EQ(clk::HeldTimerPeriods(), held);

  clk::FailTimerCaps(true);
  EXPECT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOCANDO);
  EXPECT_EQ(clk::HeldTimerPeriods(), held);
}

TEST_F(VirtualClock, SleepsAndTimedOutWaitsAdvanceItAcrossTheWrap) {
  clk::UseVirtualClock(0xFFFFFFFFu - 499);  // 2^32 - 500
  EXPECT_EQ(timeGetTime(), 0xFFFFFE0Cu);
  Sleep(300);
  EXPECT_EQ(timeGetTime(), 0xFFFFFF38u);
  HANDLE e = Event(false, false);
  EXPECT_EQ(WaitForSingleObject(e, 150), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, 100), WAIT_TIMEOUT);
  EXPECT_EQ(timeGetTime(), 50u);  // wrapped
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 25, QS_ALLEVENTS), WAIT_TIMEOUT);
  EXPECT_EQ(timeGetTime(), 75u);
  // A wait that succeeds takes no time; neither does a wait of 0.
  SetEvent(e);
  EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  clk::AdvanceVirtualClock(5);
  EXPECT_EQ(timeGetTime(), 80u);
  CloseHandle(e);
}

TEST_F(VirtualClock, OtherThreadsSeeItButSleepForReal) {
  clk::UseVirtualClock(1000);
  std::int64_t start = orvane::MonotonicNs();
  DWORD seen = 0;
  std::thread t([&] {
    Sleep(30);
    seen = timeGetTime();
  });
  t.join();
  EXPECT_EQ(seen, 1000u);
  EXPECT_GE(orvane::MonotonicNs() - start, 30 * 1000000);
  EXPECT_EQ(timeGetTime(), 1000u);
}

TEST_F(Waits, WaitAnyGivesTheLowestSignalledIndexAndConsumesOnlyIt) {
  struct Case {
    const char* name;
    bool manual[3];
    bool set[3];
    DWORD result;
    bool left_set[3];  // afterwards
  };
  const Case cases[] = {
      {"none", {false, false, false}, {false, false, false}, WAIT_TIMEOUT, {false, false, false}},
      {"last", {false, false, false}, {false, false, true}, WAIT_OBJECT_0 + 2, {false, false, false}},
      {"two auto", {false, false, false}, {false, true, true}, WAIT_OBJECT_0 + 1, {false, false, true}},
      {"all auto", {false, false, false}, {true, true, true}, WAIT_OBJECT_0, {false, true, true}},
      {"manual first", {true, false, false}, {true, true, false}, WAIT_OBJECT_0, {true, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE h[3];
    for (int i = 0; i < 3; ++i) h[i] = Event(c.manual[i], c.set[i]);
    EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 0), c.result);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(IsSet(h[i]), c.left_set[i]) << i;
    for (HANDLE e : h) CloseHandle(e);
  }
}

unsigned Quick(void*) {
  return 3;
}

TEST_F(Waits, BadArgumentsFailAndThreadsEndWaits) {
  HANDLE e = Event(false, false);
  HANDLE bad[2] = {e, reinterpret_cast<HANDLE>(0x7777)};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForMultipleObjects(0, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(65, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(MsgWaitForMultipleObjects(64, bad, FALSE, 0, QS_ALLEVENTS), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(2, bad, TRUE, 0), WAIT_FAILED);

  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Quick, nullptr, 0, nullptr));
  ASSERT_NE(thread, nullptr);
  HANDLE both[2] = {e, thread};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 2000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);  // an ended thread stays so
  CloseHandle(thread);
  CloseHandle(e);
}

TEST_F(Waits, RealTimeOutsLastTheirTime) {
  HANDLE e = Event(true, false);
  std::int64_t start = orvane::MonotonicNs();
  EXPECT_EQ(WaitForMultipleObjects(1, &e, FALSE, 30), WAIT_TIMEOUT);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 30, QS_ALLEVENTS), WAIT_TIMEOUT);
  EXPECT_GE(orvane::MonotonicNs() - start, 60 * 1000000);
  CloseHandle(e);
}

TEST_F(Waits, SetEventFromAnotherThreadWakesTheWait) {
  HANDLE h[2] = {Event(false, false), Event(false, false)};
  std::thread t([&] {
    Sleep(30);
    SetEvent(h[1]);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, h, FALSE, 2000), WAIT_OBJECT_0 + 1);
  t.join();
  std::thread u([&] {
    Sleep(30);
    SetEvent(h[0]);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(2, h, FALSE, 2000, QS_ALLINPUT), WAIT_OBJECT_0);
  u.join();
  for (HANDLE e : h) CloseHandle(e);
}

TEST_F(Waits, APostFromAnotherThreadWakesMessageWaits) {
  DrainQueue();
  const DWORD me = GetCurrentThreadId();
  HANDLE e = Event(false, false);
  std::thread t([&] {
    Sleep(30);
    PostThreadMessageA(me, WM_USER + 5, 0, 0);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 2000, QS_ALLEVENTS), WAIT_OBJECT_0 + 1);
  t.join();
  // The message was not taken, but the thread has not looked yet: a second wait sees it too.
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE), WAIT_OBJECT_0);
  // Once the queue was looked at, the same message no longer wakes a wait.
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
  // A wake mask without posted messages ignores them.
  PostThreadMessageA(me, WM_USER + 6, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_KEY), WAIT_TIMEOUT);
  DrainQueue();

  std::thread u([&] {
    Sleep(30);
    PostThreadMessageA(me, WM_USER + 7, 0, 0);
  });
  EXPECT_TRUE(WaitMessage());
  u.join();
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 7);
  // An event and input together: the event's index comes first.
  SetEvent(e);
  PostThreadMessageA(me, WM_USER + 8, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLEVENTS), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 0, QS_ALLEVENTS), WAIT_OBJECT_0 + 1);
  DrainQueue();
  CloseHandle(e);
}

TEST_F(Waits, ADueTimerWakesAMessageWait) {
  DrainQueue();
  UINT_PTR id = SetTimer(nullptr, 0, 20, nullptr);
  ASSERT_NE(id, 0u);
  std::int64_t start = orvane::MonotonicNs();
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 2000, QS_TIMER), WAIT_OBJECT_0);
  EXPECT_GE(orvane::MonotonicNs() - start, 15 * 1000000);
  KillTimer(nullptr, id);
  DrainQueue();
}

}  // namespace
