// Captures of the input script: a known scene in Draw mode (the engine program on the virtual
// clock) and in TSS mode (the TSS unit in this process) is written as binary PPM equal to its PNG
// golden and byte for byte to the ORVANE_CAPTURE dump of the same frame; bad names and folders
// stop the run with their line, a capture before the first present writes nothing and says so.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/input_script.h"
#include "base/dfile.h"
#include "base/dstring.h"
#include "imaging/dimage.h"
#include "imaging/dimg_png.h"
#include "platform/host.h"
#include "tests/api/tss_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"

namespace {

namespace fs = std::filesystem;

// A golden picture as the pixel bytes of a P6 file (rows top-down, R G B).
std::string GoldenPpm(const std::string& name) {
  DFile f;
  const std::string path = std::string(ORVANE_SOURCE_DIR) + "/tests/api/golden/" + name;
  DImage image;
  if (!f.Open(DString(path.c_str()), DFile::kRead) || !DimgLoadPNG(image, f)) {
    ADD_FAILURE() << "cannot read " << path;
    return "";
  }
  const int w = static_cast<int>(image.GetWidth()), h = static_cast<int>(image.GetHeight());
  std::string out = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.append(reinterpret_cast<const char*>(image.GetPixelPointer(x, y)), 3);
  return out;
}

// Where two P6 files first differ, for a readable failure.
std::string FirstDifference(const std::string& got, const std::string& want) {
  if (got == want) return "";
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  return "sizes " + std::to_string(got.size()) + "/" + std::to_string(want.size()) +
         ", first difference at byte " + std::to_string(i);
}

// The engine program in a scratch folder of its own (its log is written beside it).
class CaptureRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bin = std::string(ORVANE_BINARY_DIR) + "/bin/";
    fs::copy_file(bin + "orvane", dir_.Path("orvane"));
    fs::copy_file(bin + "libplatform.so", dir_.Path("libplatform.so"));
    fs::create_directory(dir_.Path("shots"));
    const auto image = meiasm::Assemble(R"(.globals 16
.file "scene.asm"
.method main
.export 0
        OpSetInt g7, 100
        .builtin 65, g7                     ; WaitEvent 100 ms: nothing is presented before
        OpSetInt g1, 0
        OpSetInt g2, 31
        .builtin 38, g1, g1, g2             ; FillImage: the screen blue
        OpSetInt g3, 100
        OpSetInt g4, 50
        OpSetInt g5, 200
        OpSetInt g6, 100
        .builtin 39, g3, g4, g5, g6, g2, g1, g1   ; FillImageRect: red
        OpSetInt g3, 600
        OpSetInt g4, 400
        OpSetInt g5, 100
        .builtin 39, g3, g4, g5, g5, g2, g1, g2   ; magenta, cut at the screen's edge
        .builtin 46                         ; RenderSpriteScreen
        OpSetInt g7, -1
wait:   .builtin 65, g7                     ; WaitEvent, until the close ends every task
        OpJump wait
)");
    dir_.Write("scene.mei", std::string(image.begin(), image.end()));
  }

  // Runs the scene with this input script; the exit code.
  int Run(const std::string& script) {
    dir_.Write("in.txt", script);
    const std::string command =
        "cd '" + dir_.Dir() +
        "' && ORVANE_BACKEND=headless ORVANE_INPUT_SCRIPT=in.txt ORVANE_CAPTURE=dump.ppm "
        "timeout 60 ./orvane scene.mei >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Err() { return dir_.Read("err.txt"); }

  orvane_test::ScratchDir dir_{"orvane_capture_run_"};
};

TEST_F(CaptureRun, DrawModeSceneEqualsItsGoldenAndTheExitDump) {
  ASSERT_EQ(Run("virtual-clock\ncapture-folder shots\n150 capture scene.ppm\n"), 0) << Err();
  const std::string shot = dir_.Read("shots/scene.ppm");
  EXPECT_EQ(FirstDifference(shot, GoldenPpm("capture_draw.png")), "");
  EXPECT_EQ(FirstDifference(shot, dir_.Read("dump.ppm")), "") << "the ORVANE_CAPTURE dump";
  EXPECT_EQ(Err().find("ORVANE_INPUT_SCRIPT"), std::string::npos) << Err();
}

TEST_F(CaptureRun, BadNamesAndFoldersStopTheRunWithTheirLine) {
  struct Case {
    const char* script;
    const char* message;
  } const cases[] = {
      {"capture-folder shots\n10 capture ../up.ppm\n",
       "in.txt: line 2: a capture name is one plain file name"},
      {"capture-folder shots\n10 capture shots/a.ppm\n",
       "in.txt: line 2: a capture name is one plain file name"},
      {"10 capture a.ppm\n", "in.txt: line 1: no \"capture-folder\" line names the folder for captures"},
      {"# shots\ncapture-folder nowhere\n10 capture a.ppm\n",
       "in.txt: line 2: the capture folder \"./nowhere\" is not a folder"},
      {"capture-folder scene.mei\n10 capture a.ppm\n",
       "in.txt: line 1: the capture folder \"./scene.mei\" is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(Run(c.script), 2);
    EXPECT_NE(Err().find(c.message), std::string::npos) << Err();
    EXPECT_FALSE(fs::exists(dir_.Path("up.ppm")));
    EXPECT_FALSE(fs::exists(dir_.Path("orvane.log")) &&
                 dir_.Read("orvane.log").find("VM unit") != std::string::npos)
        << "the run started";
  }
}

TEST_F(CaptureRun, ACaptureBeforeThePresentOrAFailedWriteIsReported) {
  // The capture at 0 comes before the scene is presented (the script waits 100 ms first); "sub" is
  // a folder, so that capture
  // cannot be written. Both are said on stderr and in the log, and the run goes on.
  fs::create_directory(dir_.Path("shots/sub"));
  ASSERT_EQ(Run("virtual-clock\ncapture-folder shots\n0 capture early.ppm\n150 capture sub\n160 capture "
                "late.ppm\n"),
            0)
      << Err();
  EXPECT_FALSE(fs::exists(dir_.Path("shots/early.ppm")));
  EXPECT_TRUE(fs::exists(dir_.Path("shots/late.ppm")));
  const std::string log = dir_.Read("orvane.log");
  for (const std::string& said :
       {std::string("in.txt: line 3: capture \"early.ppm\": nothing presented yet; nothing written"),
        std::string("in.txt: line 4: capture \"sub\": cannot write \"./shots/sub\"")}) {
    EXPECT_NE(Err().find(said), std::string::npos) << Err();
    EXPECT_NE(log.find(said), std::string::npos) << log;
  }
}

// TSS mode in this process: the TSS unit presents to its window; the script's capture and the
// ORVANE_CAPTURE writer see the same frame.
class TssCapture : public tss_api_test::TssApi {};

TEST_F(TssCapture, SceneEqualsItsGoldenAndTheDump) {
  orvane_test::ScratchDir dir("orvane_tss_capture_");
  dir.Write("in.txt", "capture-folder .\n0 capture tss.ppm\n");
  setenv("ORVANE_INPUT_SCRIPT", dir.Path("in.txt").c_str(), 1);
  ASSERT_TRUE(LoadInputScriptFromEnvironment());
  unsetenv("ORVANE_INPUT_SCRIPT");
  ASSERT_TRUE(Start());
  ApiHandle* red = ovtsCreateImage(16, 8);
  ApiHandle* blue = ovtsCreateImage(8, 8);
  ovtsFillImage(red, 1, 0, 0, 1);
  ovtsFillImage(blue, 0, 0, 1, 1);
  ApiHandle* s1 = ovtsCreateSprite(red, 0, 0);
  ApiHandle* s2 = ovtsCreateSprite(blue, 1, 0);
  ovtsSetSpritePos(s1, 10, 20);
  ovtsSetSpritePos(s2, 40, 30);
  ASSERT_EQ(ovtsRenderScreen(), 1);
  PollInputScript();
  ASSERT_TRUE(orvane::host::WriteCapture(dir.Path("dump.ppm").c_str()));
  const std::string shot = dir.Read("tss.ppm");
  EXPECT_EQ(FirstDifference(shot, GoldenPpm("capture_tss.png")), "");
  EXPECT_EQ(shot, dir.Read("dump.ppm"));
  ovtsDestroySprite(s1);
  ovtsDestroySprite(s2);
  ovtsDestroyImage(red);
  ovtsDestroyImage(blue);
  LoadInputScriptFromEnvironment();
  orvane::host::KeepPresentedPicture(false);
}

}  // namespace
