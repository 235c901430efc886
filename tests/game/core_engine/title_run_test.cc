// The engine program plays the game headless: orvane and core.opi in a scratch folder, a script
// that asks for the sprite system and calls `start`, the game's data generated here, and scripted
// clicks on the title's begin and exit buttons. The run ends cleanly with no box, the chapter's
// clear is counted in the save file beside the engine, and the title is on screen while it waits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ppm.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"

namespace {

using orvane_test::ScratchDir;

// A 24-bit BMP of w x h filled by colour(x, y) (0xRRGGBB).
template <class F>
std::string Bmp(int w, int h, F colour) {
  const int row = (w * 3 + 3) / 4 * 4;
  const uint32_t size = 54 + uint32_t(row) * uint32_t(h);
  std::string b(size, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  b[26] = 1, b[28] = 24;
  put32(34, uint32_t(row) * uint32_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = colour(x, y);
      const size_t at = 54 + size_t(h - 1 - y) * size_t(row) + size_t(x) * 3;
      b[at] = char(c), b[at + 1] = char(c >> 8), b[at + 2] = char(c >> 16);
    }
  return b;
}

std::string Solid(int w, int h, uint32_t c) {
  return Bmp(w, h, [c](int, int) { return c; });
}

using orvane_test::ReadPpm;

// Colours of the generated pictures; each channel far from the others so that a 16-bit screen
// still tells them apart.
constexpr uint32_t kTitleBg = 0x204080, kBegin = 0xF0F000, kExit = 0xF00000, kLoad = 0x00F000;

class TitleRun : public ::testing::Test {
 protected:
  TitleRun() : dir_("orvane_title_run_") {}

  void Write(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(dir_.Path(name)).parent_path());
    std::ofstream(dir_.Path(name), std::ios::binary) << bytes;
  }
  void Picture(const std::string& name, const std::string& bmp, const std::string& style = "") {
    const std::string base = name.substr(name.rfind('/') + 1);
    Write(name + ".spr", "@sprite file=" + base + (style.empty() ? "" : " style=\"" + style + "\"") + "\n");
    Write(name + ".bmp", bmp);
  }
  void Install() {
    for (const char* file : {"orvane", "libplatform.so"})
      std::filesystem::copy_file(std::string(ORVANE_BINARY_DIR "/bin/") + file, dir_.Path(file));
    std::filesystem::copy_file(CORE_OPI_PATH, dir_.Path("core.opi"));
    const auto image = meiasm::Assemble(
        ".globals 4\n"
        ".method main\n.export 0\n"
        " OpSetString g1, \"core\"\n .builtin 224, g1\n"   // LoadPlugin
        " OpSetString g2, \"start\"\n .builtin 225, g2\n"  // GetPluginFunction
        " OpMove g3, g0\n .builtin 227, g3\n"              // SetPlugin
        " .builtin 228\n OpHalt\n"                         // CallPlugin
        ".method startupconfig\n OpSetString g0, \"tss\"\n OpHalt\n");
    std::ofstream(dir_.Path("game.mei"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    // The game's data: logo, cursor, wipe ramp, title, buttons, the menu and one chapter.
    Picture("sys/logo", Solid(200, 100, 0xFFFFFF), "center middle");
    Picture("sys/cursor_blank", Solid(8, 8, 0));
    Write("sys/wipe_bg.bmp", Bmp(256, 4, [](int x, int) { return uint32_t(x) * 0x010101; }));
    Picture("sys/title_bg", Solid(800, 600, kTitleBg));
    Picture("sys/bg_select", Solid(800, 600, 0x404040));
    Picture("sys/title_begin", Solid(160, 40, kBegin), "center middle");
    Picture("sys/title_load", Solid(160, 40, kLoad), "center middle");
    Picture("sys/title_exit", Solid(160, 40, kExit), "center middle");
    Write("scn/menu/select0.scn", "@exit rescode=0\n");
    Write("scn/maid/start.scn", "; the first chapter, cleared at once\n@exit rescode=clear0\n");
    Write("scn/menu/clear0.scn", "; the scene after the first chapter\n");
  }
  // Runs the engine on the script with the input script's lines; the exit status. The run keeps
  // its single-instance lock in its own folder, so another run of the same game on the machine
  // (a parallel test, a play in progress) does not refuse it.
  int Run(const std::string& input) {
    Write("input.txt", input);
    std::filesystem::create_directories(dir_.Path("shots"));
    const std::string command =
        "cd '" + dir_.Dir() +
        "' && ORVANE_BACKEND=headless XDG_RUNTIME_DIR=\"$PWD\" ORVANE_INPUT_SCRIPT=input.txt "
        "./orvane game.mei "
        ">out.txt 2>err.txt";
    return std::system(command.c_str());
  }
  std::string Read(const std::string& name) const { return dir_.Read(name); }

  ScratchDir dir_;
};

TEST_F(TitleRun, BeginPlaysTheChapterAndExitEndsTheGame) {
  Install();
  // On the virtual clock the title waits from about 4 s (logo 3.5 s, title fade 0.5 s): it is
  // captured there, then begin; exit once the chapter and its closing scene are over and the
  // title is back.
  ASSERT_EQ(Run("virtual-clock\n"
                "capture-folder shots\n"
                "5000 capture title.ppm\n"
                "5100 move 400 430\n"
                "5150 press left 400 430\n"
                "5200 release left 400 430\n"
                "9000 move 400 500\n"
                "9050 press left 400 500\n"
                "9100 release left 400 500\n"
                // A last line the game never reaches: it ends by itself first, so the close that
                // follows the last line is never asked for.
                "60000 move 0 0\n"),
            0)
      << Read("err.txt");
  EXPECT_EQ(Read("err.txt"), "");
  const std::string log = Read("orvane.log");
  EXPECT_NE(log.find("initialized VM unit"), std::string::npos) << log;
  EXPECT_EQ(log.find("Plugin:"), std::string::npos) << log;
  EXPECT_EQ(log.find("Tale Frame"), std::string::npos) << log;  // no box of the game
  const std::string save = Read("derora.sav");
  EXPECT_NE(save.find("[save]"), std::string::npos) << save;
  EXPECT_NE(save.find("clear=1"), std::string::npos) << save;

  // The title: its background and the two buttons (no save yet, so no load) at their centres.
  int w = 0, h = 0;
  const std::vector<uint32_t> shot = ReadPpm(dir_.Path("shots/title.ppm"), &w, &h);
  ASSERT_EQ(w, 800);
  ASSERT_EQ(h, 600);
  auto at = [&](int x, int y) { return shot[size_t(y) * size_t(w) + size_t(x)]; };
  // Each channel within the step of a 16-bit screen.
  auto near = [](uint32_t got, uint32_t want) {
    for (int shift : {0, 8, 16}) {
      const int d = int((got >> shift) & 0xFF) - int((want >> shift) & 0xFF);
      if (d < -8 || d > 8) return false;
    }
    return true;
  };
  const struct {
    int x, y;
    uint32_t colour;
  } points[] = {
      {400, 430, kBegin},   {321, 411, kBegin},   {478, 448, kBegin},  // begin: 160 x 40 around (400, 430)
      {400, 500, kExit},    {321, 481, kExit},    {478, 518, kExit},   // exit around (400, 500)
      {400, 465, kTitleBg}, {300, 430, kTitleBg}, {10, 10, kTitleBg}, {790, 590, kTitleBg},
  };
  for (const auto& p : points)
    EXPECT_TRUE(near(at(p.x, p.y), p.colour)) << p.x << "," << p.y << ": " << std::hex << at(p.x, p.y);
}

}  // namespace
