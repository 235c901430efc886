// The engine program plays itself from the input script on the virtual clock: an assembled
// script reads the mouse and the keys through the built-ins and writes what it saw, with the
// virtual time, through the file built-ins; and a run ends with the close after the last line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"

namespace {

namespace fs = std::filesystem;

class ScriptedPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = std::string(ORVANE_BINARY_DIR) + "/bin/";
    fs::copy_file(bin + "orvane", dir_.Path("orvane"));
    fs::copy_file(bin + "libplatform.so", dir_.Path("libplatform.so"));
  }
  void Image(const std::string& text) {
    const auto image = meiasm::Assemble(text);
    dir_.Write("play.mei", std::string(image.begin(), image.end()));
  }
  // Runs the image with this input script on a bounded wall clock; the exit code.
  int Run(const std::string& script) {
    dir_.Write("in.txt", script);
    const std::string command =
        "cd '" + dir_.Dir() +
        "' && ORVANE_BACKEND=headless ORVANE_INPUT_SCRIPT=in.txt timeout 60 ./orvane play.mei "
        ">out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Err() { return dir_.Read("err.txt"); }

  orvane_test::ScratchDir dir_{"orvane_scripted_play_"};
};

// Every 10 virtual ms for one virtual second: each mouse event as (ms, 1, kind, x, y) and each key
// event as (ms, 2, DIK, 1 down / 2 up, 0), five 4-byte numbers.
constexpr const char* kReader = R"(.globals 24
.file "input.asm"
.method main
.export 0
        OpSetString g1, "seen.bin"
        OpSetInt g2, 6
        .builtin 205, g1, g2        ; CreateFile: write, start empty
        OpMove g3, g0
        .builtin 207, g3            ; SetFile
        OpSetInt g4, 0              ; virtual ms
        OpSetInt g5, 10
        OpSetInt g11, 100           ; turns left
        OpSetInt g20, 1
        OpSetInt g21, 2
        OpSetInt g22, 0
        .builtin 83                 ; ClearKey: the first poll acquires the keyboard
turn:   .builtin 65, g5             ; WaitEvent 10 ms
        OpAddConstInt g4, 10
        .builtin 86                 ; ClearMouse: what came in is readable
        .builtin 83                 ; ClearKey: the keyboard is polled, its events readable
mouse:  .builtin 69, g6, g7, g8     ; GetMouse
        OpJumpIfZero g0, keys
        .builtin 214, g4
        .builtin 214, g20
        .builtin 214, g6
        .builtin 214, g7
        .builtin 214, g8
        OpJump mouse
keys:   .builtin 85, g9, g10        ; GetKeyEvent
        OpJumpIfZero g0, next
        .builtin 214, g4
        .builtin 214, g21
        .builtin 214, g9
        .builtin 214, g10
        .builtin 214, g22
        OpJump keys
next:   OpSubConstInt g11, 1
        OpJumpIfNonZero g11, turn
        OpSetInt g3, 0
        .builtin 207, g3            ; no current file: it closes
        .builtin 64                 ; Exit
        OpHalt
)";

TEST_F(ScriptedPlay, MouseAndKeysReachTheScriptInOrderAtTheirTimes) {
  Image(kReader);
  ASSERT_EQ(Run("virtual-clock\n"
                "100 move 320 240\n"
                "150 press left 320 240\n"
                "200 release left 321 241\n"
                "230 press right 5 6\n"
                "240 release right 5 6\n"
                "300 key-down 0x1C\n"
                "350 key-up 0x1C\n"
                "400 key-down 44\n"
                "450 key-up 0x2C\n"
                "5000 move 0 0\n"),
            0)
      << Err();
  const std::string bytes = dir_.Read("seen.bin");
  std::vector<int32_t> seen(bytes.size() / 4);
  std::memcpy(seen.data(), bytes.data(), seen.size() * 4);
  const std::vector<int32_t> want = {
      100, 1, 3,  320, 240,  // move
      150, 1, 0,  320, 240,  // left down
      200, 1, 4,  321, 241,  // left up
      230, 1, 2,  5,   6,    // right down
      240, 1, 6,  5,   6,    // right up
      300, 2, 28, 1,   0,    // Return down
      350, 2, 28, 2,   0,    // Return up
      400, 2, 44, 1,   0,    // Z down
      450, 2, 44, 2,   0,    // Z up
  };
  EXPECT_EQ(seen, want);
}

TEST_F(ScriptedPlay, TenVirtualMinutesOfWaitingEndAtOnce) {
  // After a wait of 600,000 ms the move due at 599,990 has come and the one at 600,010 has not:
  // the clock moved by the wait's time, to the millisecond, within the test's wall-clock bound.
  Image(R"(.globals 8
.method main
.export 0
        OpSetString g1, "seen.bin"
        OpSetInt g2, 6
        .builtin 205, g1, g2        ; CreateFile
        OpMove g3, g0
        .builtin 207, g3            ; SetFile
        OpSetInt g4, 600000
        .builtin 65, g4             ; WaitEvent ten minutes
        .builtin 86                 ; ClearMouse
more:   .builtin 69, g5, g6, g7     ; GetMouse
        OpJumpIfZero g0, done
        .builtin 214, g6            ; its x
        OpJump more
done:   OpSetInt g3, 0
        .builtin 207, g3
        .builtin 64                 ; Exit
        OpHalt
)");
  ASSERT_EQ(Run("virtual-clock\n599990 move 1 1\n600010 move 2 2\n"), 0) << Err();
  EXPECT_EQ(dir_.Read("seen.bin"), std::string("\x01\0\0\0", 4));
}

TEST_F(ScriptedPlay, TheCloseAfterTheLastLineEndsTheRunWithExitZero) {
  // The script waits for ever; only the close request after the last line ends it (no close
  // handler: the question is answered with its default, yes).
  Image(".globals 4\n.method main\n.export 0\n OpSetInt g1, -1\nw: .builtin 65, g1\n OpJump w\n");
  struct Case {
    const char* script;
  } const cases[] = {
      {"virtual-clock\n"}, {"virtual-clock\n700000 move 1 1\n"}, {"virtual-clock\n9000 close\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Run(c.script), 0) << Err();
    EXPECT_NE(Err().find("\xE7\xB5\x82\xE4\xBA\x86"), std::string::npos) << Err();  // the question, in UTF-8
  }
}

}  // namespace
