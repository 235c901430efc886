// Timer events and waits on the fake engine's virtual clock: ids, dispatch passes, the engine
// waits that WaitFor hands out, the stopwatch, the close request and the clock's wrap.
#include "game/timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/plugin.h"
#include "platform/mmsystem.h"
#include "tests/game/game_fixture.h"

namespace orvane_test {
namespace {

// What the callbacks saw: (argument, clock) per firing.
std::vector<std::pair<uint32_t, DWORD>> g_fired;
int32_t g_rearm_id = -2;
int g_redraws = 0;

void Record(uint32_t argument) {
  g_fired.push_back({argument, timeGetTime()});
}
void Rearm(uint32_t argument) {
  Record(argument);
  g_rearm_id = AddTimerEvent(&Rearm, argument, 0);
}
// Runs in slot 1 with ids 0 and 2 free: its own id, then 0 (both passed: next pass), then 2 (a
// later slot, due now: this pass).
void AddEarlierAndLater(uint32_t) {
  Record(99);
  AddTimerEvent(&Record, 1, 0);
  AddTimerEvent(&Record, 2, 0);
  AddTimerEvent(&Record, 3, 0);
}
void CountRedraw() {
  ++g_redraws;
}

class TimerTest : public GameTest, public ::testing::WithParamInterface<DWORD> {
 protected:
  TimerTest() {
    g_fired.clear();
    g_redraws = 0;
    engine.SetClock(GetParam());
  }
  DWORD start() const { return GetParam(); }
  // The ovWaitEvent arguments since the last ClearCalls.
  std::vector<std::string> Waits() const {
    std::vector<std::string> waits;
    for (const std::string& call : engine.Calls())
      if (call.rfind("ovWaitEvent", 0) == 0) waits.push_back(call);
    return waits;
  }
};

INSTANTIATE_TEST_SUITE_P(Clock, TimerTest, ::testing::Values(FakeEngine::kClockStart, 0xFFFFFFFFu - 499u));

TEST_P(TimerTest, IdsLastFreedFirstReused) {
  EXPECT_EQ(AddTimerEvent(&Record, 0, 10), 0);
  EXPECT_EQ(AddTimerEvent(&Record, 0, 10), 1);
  EXPECT_EQ(AddTimerEvent(&Record, 0, 10), 2);
  RemoveTimerEvent(1);
  EXPECT_EQ(AddTimerEvent(&Record, 0, 10), 1);
  RemoveTimerEvent(-1);
  // A double removal leaves one free entry: two later events never share a slot.
  RemoveTimerEvent(2);
  RemoveTimerEvent(2);
  EXPECT_EQ(AddTimerEvent(&Record, 7, 10), 2);
  EXPECT_EQ(AddTimerEvent(&Record, 8, 10), 3);
  engine.SetClock(start() + 10);
  DispatchTimerEvents();
  std::vector<uint32_t> arguments;
  for (auto& f : g_fired) arguments.push_back(f.first);
  EXPECT_EQ(arguments, (std::vector<uint32_t>{0, 0, 7, 8}));
}

TEST_P(TimerTest, FatalErrorsShowTheirMessagesAlone) {
  for (int i = 0; i < kTimerEventCount; ++i) AddTimerEvent(&Record, 0, 1000);
  EXPECT_EQ(Stops([] { AddTimerEvent(&Record, 0, 0); }), "タイマーイベントをこれ以上登録できません。");
  RemoveTimerEvent(5);
  EXPECT_EQ(Stops([] { AddTimerEvent(nullptr, 0, 0); }), "タイマーイベントをこれ以上登録できません。");
  EXPECT_EQ(AddTimerEvent(&Record, 0, 0), 5);
  EXPECT_EQ(Stops([] { RemoveTimerEvent(128); }), "タイマーイベントIDが不正(128)");
  EXPECT_EQ(std::string("タイマーイベントIDが不正(128)"),
            "\x83\x5E\x83\x43\x83\x7D\x81\x5B\x83\x43\x83\x78\x83\x93\x83\x67"
            "ID\x82\xAA\x95\x73"
            "\x90\xB3(128)");
}

TEST_P(TimerTest, DispatchFiresDueEventsOnTimeAcrossTheWrap) {
  SetTimerRedraw(&CountRedraw);
  EXPECT_EQ(DispatchTimerEvents(), 0u);  // the reset counts as a change
  EXPECT_EQ(DispatchTimerEvents(), kLongestWaitSlice);
  AddTimerEvent(&Record, 1, 300);
  AddTimerEvent(&Record, 2, 1000);  // beyond the wrap when the clock starts 500 ms before it
  EXPECT_EQ(DispatchTimerEvents(), 0u);
  EXPECT_EQ(DispatchTimerEvents(), 300u);
  engine.SetClock(start() + 299);
  EXPECT_EQ(DispatchTimerEvents(), 1u);
  EXPECT_TRUE(g_fired.empty());
  engine.SetClock(start() + 300);
  EXPECT_EQ(DispatchTimerEvents(), 700u);
  engine.SetClock(start() + 1200);
  AddTimerEvent(&Record, 3, 0);
  AddTimerEvent(&Record, 4, 0);
  EXPECT_EQ(DispatchTimerEvents(), 0u);
  using F = std::vector<std::pair<uint32_t, DWORD>>;
  // In id order: 3 took the id that 1 gave back.
  EXPECT_EQ(g_fired, (F{{1, start() + 300}, {3, start() + 1200}, {2, start() + 1200}, {4, start() + 1200}}));
  EXPECT_EQ(g_redraws, 2);  // one per pass in which anything fired
  EXPECT_EQ(TimerRedrawCount(), 2);
  EXPECT_EQ(DispatchTimerEvents(), kLongestWaitSlice);
  EXPECT_EQ(g_redraws, 2);
}

TEST_P(TimerTest, CallbacksThatRegisterFireInLaterPassesOrLaterSlots) {
  const int32_t id = AddTimerEvent(&Rearm, 5, 0);
  DispatchTimerEvents();
  EXPECT_EQ(g_rearm_id, id);  // the slot was free again when the callback ran
  EXPECT_EQ(g_fired.size(), 1u);
  DispatchTimerEvents();
  EXPECT_EQ(g_fired.size(), 2u);
  RemoveTimerEvent(g_rearm_id);
  g_fired.clear();
  AddTimerEvent(&Record, 0, 100);
  AddTimerEvent(&AddEarlierAndLater, 0, 0);
  AddTimerEvent(&Record, 0, 100);
  RemoveTimerEvent(2);
  RemoveTimerEvent(0);
  DispatchTimerEvents();
  std::vector<uint32_t> arguments;
  for (auto& f : g_fired) arguments.push_back(f.first);
  EXPECT_EQ(arguments, (std::vector<uint32_t>{99, 3}));
  DispatchTimerEvents();
  arguments.clear();
  for (auto& f : g_fired) arguments.push_back(f.first);
  EXPECT_EQ(arguments, (std::vector<uint32_t>{99, 3, 2, 1}));
  EXPECT_EQ(TimerRedrawCount(), 4);  // counted while no redraw is set
}

TEST_P(TimerTest, WaitForHandsTheEngineAlternatingPollsAndSlices) {
  struct Case {
    uint32_t time;
    int32_t event_delay;  // -1: none
    std::vector<std::string> waits;
    DWORD ends_after;
  };
  const Case cases[] = {
      {100,
       30,
       {"ovWaitEvent(0)", "ovWaitEvent(29)", "ovWaitEvent(0)", "ovWaitEvent(69)", "ovWaitEvent(0)"},
       101},
      {100, -1, {"ovWaitEvent(0)", "ovWaitEvent(99)", "ovWaitEvent(0)"}, 101},
      {0, -1, {"ovWaitEvent(0)"}, 1},
      {0, 0, {"ovWaitEvent(0)"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "WaitFor(" << c.time << ") event " << c.event_delay);
    ResetTimerGlobals();
    g_fired.clear();
    engine.SetClock(start());
    if (c.event_delay >= 0) {
      AddTimerEvent(&Record, 0, static_cast<uint32_t>(c.event_delay));
    } else {
      DispatchTimerEvents();
    }
    engine.ClearCalls();
    EXPECT_FALSE(WaitFor(c.time, nullptr, 0));
    EXPECT_EQ(Waits(), c.waits);
    EXPECT_EQ(engine.Now(), start() + c.ends_after);
    EXPECT_EQ(engine.Calls().front(), "ovClearEvent");  // without a predicate nothing else is set up
    if (c.event_delay >= 0 && c.time > 0) {
      ASSERT_EQ(g_fired.size(), 1u);
      EXPECT_EQ(g_fired[0].second, start() + static_cast<DWORD>(c.event_delay));
    }
  }
}

TEST_P(TimerTest, UnlimitedWaitsEndOnlyThroughThePredicate) {
  DispatchTimerEvents();
  engine.ScriptKey(start() + 20000000, 0x9D, true);  // right Ctrl
  engine.ClearCalls();
  EXPECT_TRUE(WaitFor(kWaitForever, &IsSkipKeyHeld, 0));
  EXPECT_EQ(engine.Now(), start() + 20000000);
  const std::vector<std::string> setup{"ovClearEvent", "ovClearKey", "ovClearMouse", "ovWaitKeyEvent(1)",
                                       "ovWaitMouseEvent(1)"};
  EXPECT_EQ(std::vector<std::string>(engine.Calls().begin(), engine.Calls().begin() + 5), setup);
  EXPECT_EQ(Waits(), (std::vector<std::string>{"ovWaitEvent(0)", "ovWaitEvent(16777215)", "ovWaitEvent(0)",
                                               "ovWaitEvent(16777215)"}));
  // Ctrl already held: WaitOrSkip returns after its first poll.
  engine.ClearCalls();
  EXPECT_TRUE(WaitOrSkip(1000));
  EXPECT_EQ(Waits(), (std::vector<std::string>{"ovWaitEvent(0)"}));
  // Released: the limited wait runs out and says so.
  engine.ScriptKey(engine.Now(), 0x9D, false);
  EXPECT_FALSE(WaitOrSkip(50));
}

TEST_P(TimerTest, TheCloseRequestEndsWaitsAndStopwatchLoops) {
  engine.SetExitAt(start() + 40);
  bool thrown = false;
  try {
    WaitFor(kWaitForever, nullptr, 0);
  } catch (const DExceptGame&) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(engine.Now(), start() + 40);
  EXPECT_TRUE(engine.Messages().empty());

  engine.SetExit(false);
  engine.SetExitAt(start() + 100);
  thrown = false;
  int steps = 0;
  try {
    ResetStopwatch();
    while (GetStopwatchTime() < 1000) ++steps;
  } catch (const DExceptGame&) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  EXPECT_EQ(steps, 58);  // one ms per pump from 41 to 100
  EXPECT_TRUE(engine.Messages().empty());
}

TEST_P(TimerTest, StopwatchPumpsTheEngineOnce) {
  AddTimerEvent(&Record, 4, 0);
  engine.ClearCalls();
  EXPECT_EQ(ResetStopwatch(), start() + 1);
  EXPECT_EQ(engine.Calls(), (std::vector<std::string>{"ovClearEvent", "ovWaitEvent(0)", "ovIsExit"}));
  EXPECT_EQ(g_fired.size(), 1u);
  EXPECT_EQ(TimerRedrawCount(), 1);
  EXPECT_EQ(GetStopwatchTime(), 1u);
  EXPECT_EQ(GetStopwatchTime(), 2u);
}

using TimerStartTest = GameTest;

TEST_F(TimerStartTest, EachStartBeginsWithAnEmptyTable) {
  static std::vector<int32_t> ids;
  for (int run = 0; run < 2; ++run)
    RunGameGuarded([] {
      ids.push_back(AddTimerEvent(&Record, 0, 1000));
      ids.push_back(AddTimerEvent(&Record, 0, 1000));
    });
  EXPECT_EQ(ids, (std::vector<int32_t>{0, 1, 0, 1}));
}

}  // namespace
}  // namespace orvane_test
