// The timed-input file of headless runs: its text form, good lines and every kind of bad one.
#include "api/input_script.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "../shell/shell_fixture.h"
#include "api/api_path.h"
#include "base/ddatafile.h"
#include "tests/api/tss_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch_dir.h"
#include "vm/script_loader.h"

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

TEST(InputScript, SettingsAndCaptures) {
  InputScript script;
  std::string error;
  ASSERT_TRUE(ParseInputScript(
      "virtual-clock\n10 capture a.ppm\ncapture-folder shots\n20 capture b\ntrace-files\n", &script, &error))
      << error;
  EXPECT_TRUE(script.virtual_clock);
  EXPECT_TRUE(script.trace_files);
  EXPECT_EQ(script.capture_folder, "shots");
  EXPECT_EQ(script.capture_folder_line, 3);
  ASSERT_EQ(script.events.size(), 2u);
  EXPECT_EQ(script.events[0].kind, E::kCapture);
  EXPECT_EQ(script.events[0].name, "a.ppm");
  EXPECT_EQ(script.events[0].line, 2);
  EXPECT_EQ(script.events[1].at_ms, 20u);
  EXPECT_EQ(script.events[1].name, "b");
  ASSERT_TRUE(ParseInputScript("5 close\n", &script, &error));
  EXPECT_FALSE(script.virtual_clock);
  EXPECT_FALSE(script.trace_files);

  struct Case {
    const char* text;
    const char* error;
  } const cases[] = {
      {"virtual-clock now\n", "line 1: \"virtual-clock\" takes no arguments"},
      {"5 virtual-clock\n", "line 1: \"virtual-clock\" is a setting: written without a time"},
      {"trace-files all\n", "line 1: \"trace-files\" takes no arguments"},
      {"1 trace-files\n", "line 1: \"trace-files\" is a setting: written without a time"},
      {"capture-folder\n", "line 1: expected one folder after \"capture-folder\""},
      {"capture-folder a b\n", "line 1: expected one folder after \"capture-folder\""},
      {"capture-folder a\n\ncapture-folder a\n", "line 3: the capture folder is already named on line 1"},
      {"capture-folder d\n5 capture\n", "line 2: expected one file name after \"capture\""},
      {"capture-folder d\n5 capture a b\n", "line 2: expected one file name after \"capture\""},
      {"capture-folder d\n5 capture ../a\n",
       "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")"},
      {"capture-folder d\n5 capture sub/a\n",
       "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")"},
      {"capture-folder d\n5 capture a\\b.ppm\n",
       "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")"},
      {"capture-folder d\n5 capture ..\n",
       "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")"},
      {"capture-folder d\n5 capture .\n",
       "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")"},
      {"1 close\n5 capture a\n7 capture b\n",
       "line 2: no \"capture-folder\" line names the folder for captures"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseInputScript(c.text, &script, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
    EXPECT_TRUE(script.events.empty()) << c.text;
    EXPECT_FALSE(script.virtual_clock) << c.text;
  }
  EXPECT_FALSE(ParseInputScript(std::string("capture-folder d\n5 capture a\0b\n", 31), &script, &error));
  EXPECT_EQ(error, "line 2: a capture name is one plain file name (no \"/\", \"\\\", \".\" or \"..\")");
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

// Mouse lines reach the main window's queue as a pointer's messages, each at its own time.
class InputScriptDelivery : public shell_test::ShellTest {};

TEST_F(InputScriptDelivery, MouseLinesBecomeTheMainWindowsMessagesAtTheirTimes) {
  EngineUnits() = shell_test::FakeTable(true);
  orvane_test::ScratchDir dir("input_script_");
  dir.Write("in.txt", "10 move 5 6\n20 press left 7 8\n20 press right 7 8\n30 release left 9 10\n");
  setenv("ORVANE_INPUT_SCRIPT", dir.Path("in.txt").c_str(), 1);
  const bool loaded = LoadInputScriptFromEnvironment();
  unsetenv("ORVANE_INPUT_SCRIPT");
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(MainWindow().Create());
  HWND hwnd = MainWindow().GetHandle();
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
  auto taken = [&] {
    std::vector<std::string> out;
    while (PeekMessageA(&m, nullptr, WM_MOUSEMOVE, WM_MBUTTONUP, PM_REMOVE)) {
      EXPECT_EQ(m.hwnd, hwnd);
      out.push_back(std::to_string(m.message) + " " + std::to_string(m.wParam) + " " +
                    std::to_string(static_cast<int16_t>(LOWORD(m.lParam))) + "," +
                    std::to_string(static_cast<int16_t>(HIWORD(m.lParam))));
    }
    return out;
  };
  orvane::clock::UseVirtualClock(1000);
  PollInputScript();  // the first poll starts the script's time
  orvane::clock::AdvanceVirtualClock(9);
  PollInputScript();
  EXPECT_TRUE(taken().empty());
  orvane::clock::AdvanceVirtualClock(1);
  PollInputScript();
  EXPECT_EQ(taken(), std::vector<std::string>{std::to_string(WM_MOUSEMOVE) + " 0 5,6"});
  orvane::clock::AdvanceVirtualClock(25);
  PollInputScript();
  EXPECT_EQ(taken(), (std::vector<std::string>{std::to_string(WM_LBUTTONDOWN) + " 1 7,8",
                                               std::to_string(WM_RBUTTONDOWN) + " 3 7,8",
                                               std::to_string(WM_LBUTTONUP) + " 2 9,10"}));
}

// With trace-files every open gets one log line: disk files by cp932 name and host path, archive
// members by name; without the line nothing is traced.
TEST(InputScriptTrace, EveryOpenGivesOneLineWithNamePlaceAndResult) {
  orvane_test::ScratchDir dir("input_trace_");
  dir.Write("in.txt", "x");
  dir.Write("\xE8\xA1\xA8.txt", "y");  // the UTF-8 host name of a cp932 name with a 0x5C trail byte
  dir.Write("data.dat", tss_api_test::Archive({{"member.txt", "z"}}));
  dir.Write("trace.txt", "trace-files\n");
  const std::string program_directory = GetProgramDirectory();
  SetProgramDirectory((dir.Dir() + "/").c_str());
  setenv("ORVANE_INPUT_SCRIPT", dir.Path("trace.txt").c_str(), 1);
  ASSERT_TRUE(LoadInputScriptFromEnvironment());
  unsetenv("ORVANE_INPUT_SCRIPT");
  orvane_test::LogCapture log;
  // Disk opens name the cp932 path as opened (resolved against the program's directory).
  const std::string d = dir.Dir() + "/";
  struct Case {
    const char* name;
    bool mounted;
    bool opens;
    std::string line;
  } const cases[] = {
      {"in.txt", false, true, "[trace-files] \"" + d + "in.txt\" \"" + d + "in.txt\" opened\n"},
      {"missing.txt", false, false,
       "[trace-files] \"" + d + "missing.txt\" \"" + d + "missing.txt\" not found\n"},
      {"表.txt", false, true, "[trace-files] \"" + d + "表.txt\" \"" + d + "\xE8\xA1\xA8.txt\" opened\n"},
      {"member.txt", true, true, "[trace-files] \"member.txt\" archive opened\n"},
      {"sub\\none.txt", true, false, "[trace-files] \"sub/none.txt\" archive not found\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.mounted && !MountedDataFile()) {
      MountedDataFile().Alloc(1);
      ASSERT_TRUE(MountedDataFile()->MountFile(DString(dir.Path("data.dat").c_str())));
      log.Text();
    }
    const std::string before = log.Text();
    DFile file;
    EXPECT_EQ(ApiOpenPath(c.name, file), c.opens);
    EXPECT_EQ(log.Text().substr(before.size()), c.line);
  }
  MountedDataFile().Release();

  // Without the line: no trace.
  unsetenv("ORVANE_INPUT_SCRIPT");
  ASSERT_TRUE(LoadInputScriptFromEnvironment());
  const std::string before = log.Text();
  DFile file;
  EXPECT_TRUE(ApiOpenPath("in.txt", file));
  EXPECT_EQ(log.Text(), before);
  SetProgramDirectory(program_directory.c_str());
}

}  // namespace
