// End to end: the engine program, headless, runs an assembled script that loads and plays a
// sound, plays a stream and a MIDI list beside it, and reports through a message box; another
// script shows a movie's frame image on the screen, and the headless capture holds that frame.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/api/media_fixture.h"
#include "tests/support/movie_clip.h"
#include "tests/support/ppm.h"

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

using orvane_test::ReadPpm;

// An RGB565 pixel as the window shows it: each channel widened by repeating its high bits.
uint32_t Expand565(unsigned p) {
  const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

TEST(MediaRun, AScriptShowsAMovieFrameThatTheCaptureHolds) {
  constexpr int kW = 32, kH = 24, kX = 10, kY = 20;
  orvane_test::ScratchDir dir("orvane_api_movie_run_");
  ASSERT_TRUE(orvane_test::MakeTestClip(dir.Path("clip.mkv"), kW, kH, 10, 0.5, false));
  const std::string frames = orvane_test::ReferenceFrames(dir.Path("clip.mkv"), "rgb565le", dir);
  ASSERT_EQ(frames.size(), 5u * kW * kH * 2);
  const auto image = meiasm::Assemble(R"(.globals 16
.file "movie.asm"
.method main
.export 0
        OpSetInt g1, 1
        .builtin 1, g1             ; SetSpriteLevel 1
        OpSetString g2, "clip.mkv"
        .builtin 95, g2            ; LoadMovie
        .builtin 97, g0            ; SetMovie
        OpSetInt g3, 0
        .builtin 98, g3            ; PlayMovie once
        .builtin 143               ; IsMoviePlay
        OpJumpIfZero g0, fail
        OpSetInt g4, 60
        .builtin 15, g4            ; SetFPS 60
        OpSetInt g5, 600
frame:  .builtin 18                ; WaitTime (messages pumped: the end clears the flag)
        .builtin 143               ; IsMoviePlay
        OpJumpIfZero g0, ended
        OpSubConstInt g5, 1
        OpJumpIfNonZero g5, frame
        OpJump fail
ended:  .builtin 101               ; GetMovieImage: the last frame stays
        OpMove g6, g0
        .builtin 77, g6            ; SetImage
        .builtin 43, g3            ; SetImageLevel 0
        .builtin 29, g1            ; SetImageDraw
        OpSetInt g7, 10
        OpSetInt g8, 20
        .builtin 25, g7, g8        ; SetImagePos 10, 20
        .builtin 46                ; RenderSpriteScreen
        OpSetString g9, "movie ok"
        OpSetString g10, "run"
        .builtin 58, g9, g10, g3   ; Message
        .builtin 64                ; Exit
        OpHalt
fail:   OpSetString g9, "movie failed"
        OpSetString g10, "run"
        .builtin 58, g9, g10, g3
        .builtin 64
        OpHalt
)");
  dir.Write("movie.mei", std::string(image.begin(), image.end()));
  const std::string command = "cd '" + dir.Dir() + "' && ORVANE_BACKEND=headless ORVANE_CAPTURE='" +
                              dir.Path("shot.ppm") + "' '" + ORVANE_BINARY_DIR + "/bin/orvane' '" +
                              dir.Path("movie.mei") + "' >out.txt 2>err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << dir.Read("err.txt");
  const std::string err = dir.Read("err.txt");
  EXPECT_NE(err.find("movie ok"), std::string::npos) << err;
  int w = 0, h = 0;
  const std::vector<uint32_t> shot = ReadPpm(dir.Path("shot.ppm"), &w, &h);
  ASSERT_EQ(w, 640) << err;
  ASSERT_EQ(h, 480);
  // The shown rectangle is the clip's last frame, whole, and nothing lies beside it.
  int matched = -1;
  for (int k = 0; k < 5 && matched < 0; ++k) {
    bool same = true;
    for (int y = 0; y < kH && same; ++y)
      for (int x = 0; x < kW && same; ++x) {
        const size_t at = (size_t(k) * kW * kH + size_t(y) * kW + x) * 2;
        const unsigned p = static_cast<uint8_t>(frames[at]) | static_cast<uint8_t>(frames[at + 1]) << 8;
        same = shot[size_t(kY + y) * 640 + kX + x] == Expand565(p);
      }
    if (same) matched = k;
  }
  EXPECT_EQ(matched, 4) << "the capture shows no frame of the clip (-1) or not the last";
  EXPECT_EQ(shot[size_t(kY - 1) * 640 + kX], 0u);
  EXPECT_EQ(shot[size_t(kY + kH) * 640 + kX + kW], 0u);
}

}  // namespace
