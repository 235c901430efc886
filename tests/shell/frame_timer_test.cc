// Tests of the frame timer on the virtual clock: intervals, frame lengths, skipping, rates, the
// clock's wrap, the pause while suspended.
#include <cmath>
#include <cstring>

#include "shell/cframetimer.h"
#include "shell_fixture.h"
#include "tools/meiasm/meiasm.h"

namespace {

using namespace shell_test;
namespace clk = orvane::clock;

class Timer : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    clk::UseVirtualClock(100000);
    timer_.Term();
    ASSERT_TRUE(timer_.Init());
  }
  void TearDown() override {
    timer_.Term();
    ShellTest::TearDown();
  }
  CFrameTimer timer_;
};

TEST_F(Timer, InitHoldsOnePeriodAndFailsWithoutCaps) {
  EXPECT_FALSE(timer_.Init());  // a period is held
  EXPECT_EQ(timer_.GetPeriod(), 1u);
  EXPECT_EQ(timer_.GetIntervalFixed(), CFrameTimer::kDefaultInterval);
  EXPECT_EQ(timer_.GetFlags(), CFrameTimer::kPause);
  int held = clk::HeldTimerPeriods();
  timer_.Term();
  timer_.Term();
  EXPECT_EQ(clk::HeldTimerPeriods(), held - 1);
  clk::FailTimerCaps(true);
  EXPECT_FALSE(timer_.Init());
  EXPECT_EQ(timer_.GetPeriod(), 0u);
}

TEST_F(Timer, IntervalsFromRatesAndMilliseconds) {
  struct Case {
    int32_t fps;
    uint32_t interval;
  };
  for (const Case& c : {Case{30, 2184533}, Case{50, 1310720}, Case{60, 1092267}, Case{1, 65536000}}) {
    timer_.SetFPS(c.fps);
    EXPECT_EQ(timer_.GetIntervalFixed(), c.interval) << c.fps;
  }
  timer_.SetFPS(60);
  EXPECT_FLOAT_EQ(timer_.GetInterval(), 1092267.0f / 65536.0f);
  timer_.SetFPS(0);  // no division by zero: nothing changes
  EXPECT_EQ(timer_.GetIntervalFixed(), 1092267u);
  // Out-of-range lengths are clamped, never converted out of range.
  struct Ms {
    float ms;
    uint32_t interval;
  };
  for (const Ms& m :
       {Ms{-5.0f, 0}, Ms{NAN, 0}, Ms{1e30f, UINT32_MAX}, Ms{INFINITY, UINT32_MAX}, Ms{20.0f, 1310720}}) {
    timer_.SetInterval(m.ms);
    EXPECT_EQ(timer_.GetIntervalFixed(), m.interval) << m.ms;
  }
}

TEST_F(Timer, FramesAlternateAndSixtyTakeOneSecondAcrossTheWrap) {
  clk::UseVirtualClock(0xFFFFFFFFu - 499);
  timer_.Restart();
  const DWORD start = timeGetTime();
  std::vector<DWORD> lengths;
  DWORD before = start;
  for (int i = 0; i < 60; ++i) {
    EXPECT_FALSE(timer_.Wait());
    DWORD now = timeGetTime();
    lengths.push_back(now - before);
    before = now;
  }
  EXPECT_EQ((std::vector<DWORD>(lengths.begin(), lengths.begin() + 6)),
            (std::vector<DWORD>{16, 17, 17, 16, 17, 17}));
  EXPECT_EQ(timeGetTime() - start, 1000u);
  // The counts of the second that just ended are published at the next wait.
  timer_.Wait();
  EXPECT_EQ(timer_.GetLoopRate(), 60u);
  EXPECT_EQ(timer_.GetDrawnRate(), 60u);
  EXPECT_EQ(timer_.GetCount(), 1u);
}

TEST_F(Timer, ALateProgramSkipsUntilTheBaseCatchesUp) {
  timer_.Restart();
  clk::AdvanceVirtualClock(100);
  std::vector<bool> skips;
  DWORD t = timeGetTime();
  for (int i = 0; i < 8; ++i) skips.push_back(timer_.Wait());
  EXPECT_EQ(skips, (std::vector<bool>{true, true, true, true, true, true, false, false}));
  EXPECT_GT(timeGetTime(), t);  // the seventh wait slept again

  // With a limit of 3, a constantly late program draws every third frame.
  timer_.SetSkipLimit(3);
  skips.clear();
  for (int i = 0; i < 6; ++i) {
    clk::AdvanceVirtualClock(40);
    skips.push_back(timer_.Wait());
  }
  EXPECT_EQ(skips, (std::vector<bool>{true, true, false, true, true, false}));
  EXPECT_TRUE(timer_.IsSkip() == false);
}

TEST_F(Timer, RatesShowInTheCaption) {
  ASSERT_TRUE(MainWindow().Create());
  timer_.ShowFPS(true);
  char caption[64];
  GetWindowTextA(MainWindow().GetHandle(), caption, sizeof caption);
  EXPECT_STREQ(caption, "0 / 0 FPS");
  for (int i = 0; i < 61; ++i) timer_.Wait();
  GetWindowTextA(MainWindow().GetHandle(), caption, sizeof caption);
  EXPECT_STREQ(caption, "60 / 60 FPS");
  timer_.ShowFPS(false);
  EXPECT_EQ(timer_.GetFlags() & CFrameTimer::kShowRate, 0u);
}

// Ends every task when its message is dispatched (the program is told to exit while paused).
int g_pumped = 0;
CFrameTimer* g_resume = nullptr;
LRESULT CALLBACK ExitProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_USER + 1) {
    if (++g_pumped == 2) ExitAllTasks();
    return 0;
  }
  if (message == WM_USER + 2) {
    ++g_pumped;
    g_resume->Resume();
    return 0;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

TEST_F(Timer, ThePauseHoldsUntilResumeAndEndsWithTheTasks) {
  ASSERT_TRUE(MainWindow().Create());
  timer_.ShowFPS(true);
  // A running task, so that the pause has something to wait for.
  auto image = meiasm::Assemble(".globals 1\n.method main\n OpHalt\n");
  ASSERT_TRUE(StartMainTask(image, "/tmp/pause.mei"));
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ExitProc;
  wc.lpszClassName = "PauseExit";
  RegisterClassExA(&wc);
  HWND w = CreateWindowExA(0, "PauseExit", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  g_pumped = 0;
  timer_.Suspend();
  PostMessageA(w, WM_USER + 1, 0, 0);
  PostMessageA(w, WM_USER + 1, 0, 0);
  timer_.Wait();  // returns only because the second message ended every task
  EXPECT_EQ(g_pumped, 2);
  char caption[64];
  GetWindowTextA(MainWindow().GetHandle(), caption, sizeof caption);
  EXPECT_STREQ(caption, "-- Pause --");
  EndAllTasks();

  // A resume arriving while paused ends the pause, and the clock restarts.
  ASSERT_TRUE(StartMainTask(image, "/tmp/pause.mei"));
  g_resume = &timer_;
  g_pumped = 0;
  timer_.Suspend();
  PostMessageA(w, WM_USER + 2, 0, 0);
  clk::AdvanceVirtualClock(300);
  EXPECT_FALSE(timer_.Wait());
  EXPECT_EQ(g_pumped, 1);
  EXPECT_EQ(timer_.GetFlags() & (CFrameTimer::kSuspended | CFrameTimer::kRestart), 0u);
  DestroyWindow(w);
  EndAllTasks();

  // Without pausing, a suspended engine's wait goes on as usual; a resume restarts the clock.
  timer_.SetTimePause(false);
  timer_.Wait();
  clk::AdvanceVirtualClock(500);
  timer_.Resume();
  EXPECT_FALSE(timer_.Wait());  // restarted: no frames to catch up
}

}  // namespace
