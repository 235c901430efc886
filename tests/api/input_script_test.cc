// The timed-input file of headless runs: its text form, good lines and every kind of bad one.
#include "api/input_script.h"

#include <gtest/gtest.h>

namespace {

using E = InputScriptEvent;

TEST(InputScript, ParsesEveryLineForm) {
  std::vector<E> events;
  std::string error;
  ASSERT_TRUE(
      ParseInputScript("# comment\n\n  100 close\r\n"
                       "100 move 10 -5\n"
                       "200\tpress left 320 240\n"
                       "200 release right 0 32767\n"
                       "250 press middle -32768 1\n"
                       "300 key-down 0x1C\n"
                       "300 key-up 44\n"
                       "2147483647 key-down 255\n",
                       &events, &error))
      << error;
  ASSERT_EQ(events.size(), 8u);
  struct Want {
    uint32_t at;
    E::Kind kind;
    E::Button button;
    int x, y, dik;
  } const want[] = {
      {100, E::kClose, E::kLeft, 0, 0, 0},        {100, E::kMove, E::kLeft, 10, -5, 0},
      {200, E::kPress, E::kLeft, 320, 240, 0},    {200, E::kRelease, E::kRight, 0, 32767, 0},
      {250, E::kPress, E::kMiddle, -32768, 1, 0}, {300, E::kKeyDown, E::kLeft, 0, 0, 0x1C},
      {300, E::kKeyUp, E::kLeft, 0, 0, 0x2C},     {2147483647u, E::kKeyDown, E::kLeft, 0, 0, 255},
  };
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].at_ms, want[i].at);
    EXPECT_EQ(events[i].kind, want[i].kind);
    if (want[i].kind == E::kPress || want[i].kind == E::kRelease) {
      EXPECT_EQ(events[i].button, want[i].button);
    }
    EXPECT_EQ(events[i].x, want[i].x);
    EXPECT_EQ(events[i].y, want[i].y);
    EXPECT_EQ(events[i].dik, want[i].dik);
  }
}

TEST(InputScript, RejectsBadLinesWithTheLineNumberAndNoEvents) {
  struct Case {
    const char* line;
    const char* error;
  } const cases[] = {
      {"close", "line 2: time must be milliseconds 0..2147483647"},
      {"-1 close", "line 2: time must be milliseconds 0..2147483647"},
      {"2147483648 close", "line 2: time must be milliseconds 0..2147483647"},
      {"99999999999999999999999 close", "line 2: time must be milliseconds 0..2147483647"},
      {"1x close", "line 2: time must be milliseconds 0..2147483647"},
      {"10", "line 2: missing event after the time"},
      {"10 open", "line 2: unknown event \"open\""},
      {"10 close now", "line 2: \"close\" takes no arguments"},
      {"4 close", "line 2: time goes backwards"},
      {"10 move 1", "line 2: expected client coordinates X Y (-32768..32767)"},
      {"10 move 1 2 3", "line 2: expected client coordinates X Y (-32768..32767)"},
      {"10 move 1 32768", "line 2: expected client coordinates X Y (-32768..32767)"},
      {"10 move a 2", "line 2: expected client coordinates X Y (-32768..32767)"},
      {"10 press 1 2", "line 2: expected a button: left, right or middle"},
      {"10 press up 1 2", "line 2: expected a button: left, right or middle"},
      {"10 release left", "line 2: expected client coordinates X Y (-32768..32767)"},
      {"10 key-down 0", "line 2: expected one DIK code 1..255"},
      {"10 key-down 256", "line 2: expected one DIK code 1..255"},
      {"10 key-up 0x100", "line 2: expected one DIK code 1..255"},
      {"10 key-up 0x", "line 2: expected one DIK code 1..255"},
      {"10 key-up 0x1g", "line 2: expected one DIK code 1..255"},
      {"10 key-up -1", "line 2: expected one DIK code 1..255"},
      {"10 key-up", "line 2: expected one DIK code 1..255"},
      {"10 key-up 1 2", "line 2: expected one DIK code 1..255"},
  };
  for (const Case& c : cases) {
    std::vector<E> events;
    std::string error;
    EXPECT_FALSE(ParseInputScript(std::string("5 close\n") + c.line + "\n9 close\n", &events, &error))
        << c.line;
    EXPECT_EQ(error, c.error) << c.line;
    EXPECT_TRUE(events.empty()) << c.line;
  }
}

TEST(InputScript, ReadsLongLinesAndOddBytesWithoutOverrun) {
  std::vector<E> events;
  std::string error;
  // A very long comment, a last line without a newline, and a NUL inside a line.
  EXPECT_TRUE(ParseInputScript("#" + std::string(1 << 20, 'x') + "\n7 close", &events, &error)) << error;
  EXPECT_EQ(events.size(), 1u);
  EXPECT_FALSE(ParseInputScript(std::string("7 clo\0se\n", 9), &events, &error));
  EXPECT_EQ(error.rfind("line 1:", 0), 0u) << error;
  EXPECT_FALSE(ParseInputScript("7 move " + std::string(100000, '9') + " 1\n", &events, &error));
  EXPECT_EQ(error, "line 1: expected client coordinates X Y (-32768..32767)");
}

}  // namespace
