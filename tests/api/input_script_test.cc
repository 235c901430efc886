// The timed-message file of headless runs: its text form.
#include "api/input_script.h"

#include <gtest/gtest.h>

namespace {

TEST(InputScript, ParsesCloseEventsAndRejectsAnythingElseWithTheLine) {
  std::vector<InputScriptEvent> events;
  std::string error;
  ASSERT_TRUE(ParseInputScript("# comment\n\n  100 close\r\n2500\tclose\n", &events, &error));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].at_ms, 100u);
  EXPECT_EQ(events[1].at_ms, 2500u);
  const char* bad[] = {"close\n", "-1 close\n", "10 open\n", "10 close now\n", "99999999999 close\n", "10\n"};
  for (const char* text : bad) {
    EXPECT_FALSE(ParseInputScript(std::string("5 close\n") + text, &events, &error)) << text;
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
    EXPECT_TRUE(events.empty());
  }
}

}  // namespace
