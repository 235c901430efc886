// End to end: the engine program, headless, runs an assembled script that loads and plays a
// sound, plays a stream and a MIDI list beside it, and reports through a message box.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/api/media_fixture.h"

namespace {

using namespace media_test;

TEST(MediaRun, AScriptPlaysASoundAStreamAndASong) {
  orvane_test::ScratchDir dir("orvane_api_media_run_");
  namespace fs = std::filesystem;
  const std::string bin = std::string(ORVANE_BINARY_DIR) + "/bin/";
  fs::copy_file(bin + "orvane", dir.Path("orvane"));
  fs::copy_file(bin + "libplatform.so", dir.Path("libplatform.so"));
  dir.Write("se.wav", WavBytes(Ramp(1, 2000), 22050));
  dir.Write("bgm.wav", WavBytes(Ramp(1, 8000), 22050));
  dir.Write("song.mid", SmfBytes());
  const auto image = meiasm::Assemble(R"(.globals 16
.file "media.asm"
.method main
.export 0
        OpSetString g1, "se.wav"
        OpSetInt g2, 2
        .builtin 90, g1, g2        ; LoadSound
        .builtin 92, g0            ; SetSound
        OpSetInt g3, 0
        .builtin 93, g3            ; PlaySound once
        .builtin 279               ; IsSoundPlay
        OpJumpIfZero g0, fail
        .builtin 133               ; CreateStream
        .builtin 232, g0           ; SetStream
        OpSetString g1, "bgm.wav"
        OpSetInt g4, -1
        OpSetFloat g5, 0.5
        .builtin 233, g1, g4, g5, g3   ; AddStreamList, endless from 0.5 s
        .builtin 235               ; PlayStream
        OpSetString g1, "song.mid"
        .builtin 134, g1, g3, g5, g3   ; AddMidiList
        .builtin 4                 ; PlayMidi
        OpSetInt g6, 60
        .builtin 15, g6            ; SetFPS 60
        OpSetInt g7, 10
frame:  .builtin 18                ; WaitTime
        OpSubConstInt g7, 1
        OpJumpIfNonZero g7, frame
        .builtin 236               ; StopStream
        .builtin 5                 ; StopMidi
        OpSetString g8, "media ok"
        OpSetString g9, "run"
        .builtin 58, g8, g9, g3    ; Message
        .builtin 64                ; Exit
        OpHalt
fail:   OpSetString g8, "media failed"
        OpSetString g9, "run"
        .builtin 58, g8, g9, g3
        .builtin 64
        OpHalt
)");
  dir.Write("media.mei", std::string(image.begin(), image.end()));
  const std::string command =
      "cd '" + dir.Dir() + "' && ORVANE_BACKEND=headless ./orvane media.mei >out.txt 2>err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << dir.Read("err.txt");
  const std::string err = dir.Read("err.txt");
  EXPECT_NE(err.find("media ok"), std::string::npos) << err;
  EXPECT_EQ(err.find("media failed"), std::string::npos) << err;
  EXPECT_EQ(err.find("\x8E\xC0\x8D\x73"), std::string::npos) << "no run-time error box: " << err;
}

}  // namespace
