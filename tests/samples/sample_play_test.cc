// The sample game on the real engine, headless: each built program folder (loose data, and the
// data archive) is copied with the engine into a scratch folder of its own and played twice by
// its input scripts. Run 1 plays from the title to the save and back (samples/game/play.txt),
// run 2 loads the save (tests/samples/play_load.txt). The captured key frames must equal the
// goldens in tests/samples/goldens/ (a quarter of the size but for the title, the page cursor
// blacked out) and show the colours the probes expect; both folders must give the same frames.
//
// ORVANE_WRITE_GOLDENS=1 rewrites the goldens from the loose folder's captures. A frame that
// differs from its golden writes its capture and a difference picture into
// <build>/tests/samples/diff/.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "base/dstring.h"
#include "imaging/dimage.h"
#include "imaging/dimg_png.h"
#include "platform/hostpath.h"
#include "tests/samples/expected_save.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using orvane_test::ScratchDir;

const fs::path kSource = ORVANE_SOURCE_DIR;
const fs::path kBinary = ORVANE_BINARY_DIR;
const fs::path kGoldens = kSource / "tests/samples/goldens";

// An RGB picture, rows top-down.
struct Picture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * w + x) * 3]; }
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * w + x) * 3]; }
  bool operator==(const Picture&) const = default;
};

// A binary PPM (P6, maximum 255) as the input script's captures write it.
bool ReadPpm(const fs::path& path, Picture* out) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int max = 0;
  if (!(in >> magic >> out->w >> out->h >> max) || magic != "P6" || max != 255 || out->w <= 0 || out->h <= 0)
    return false;
  in.get();  // the one blank after the header
  out->rgb.resize(static_cast<size_t>(out->w) * out->h * 3);
  in.read(reinterpret_cast<char*>(out->rgb.data()), static_cast<std::streamsize>(out->rgb.size()));
  return static_cast<size_t>(in.gcount()) == out->rgb.size();
}

bool ReadPng(const fs::path& path, Picture* out) {
  DFile file;
  if (!file.Open(DString(path.string().c_str()), DFile::kRead)) return false;
  DImage image;
  if (!DimgLoadPNG(image, file)) return false;
  out->w = static_cast<int>(image.GetWidth());
  out->h = static_cast<int>(image.GetHeight());
  out->rgb.assign(static_cast<size_t>(out->w) * out->h * 3, 0);
  const DimgFormat format = image.GetFormat();
  const bool bgr = format == DimgFormat::BGR888 || format == DimgFormat::BGRA8888;
  if (format != DimgFormat::RGB888 && format != DimgFormat::BGR888 && format != DimgFormat::RGBA8888 &&
      format != DimgFormat::BGRA8888)
    return false;
  for (int y = 0; y < out->h; ++y)
    for (int x = 0; x < out->w; ++x) {
      const uint8_t* p = image.GetPixelPointer(x, y);
      uint8_t* q = out->At(x, y);
      q[0] = p[bgr ? 2 : 0];
      q[1] = p[1];
      q[2] = p[bgr ? 0 : 2];
    }
  return true;
}

bool WritePng(const fs::path& path, const Picture& picture) {
  DImage image;
  if (!image.CreateAligned(picture.w, picture.h, DimgFormat::RGB888)) return false;
  for (int y = 0; y < picture.h; ++y)
    for (int x = 0; x < picture.w; ++x)
      for (int c = 0; c < 3; ++c) image.GetPixelPointer(x, y)[c] = picture.At(x, y)[c];
  DFile file;
  if (!file.Open(DString(path.string().c_str()), DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew))
    return false;
  return DimgWritePNG(file, image, false);
}

// The page cursor's fill colour (its picture in samples/game/assets.txt): the box around every
// pixel of it is blacked out, so the frames compare outside the cursor.
constexpr uint8_t kCursor[3] = {0xF0, 0xD0, 0x70};

void MaskCursor(Picture& p) {
  int left = p.w, top = p.h, right = -1, bottom = -1;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const uint8_t* q = p.At(x, y);
      if (q[0] != kCursor[0] || q[1] != kCursor[1] || q[2] != kCursor[2]) continue;
      left = std::min(left, x), right = std::max(right, x);
      top = std::min(top, y), bottom = std::max(bottom, y);
    }
  if (right < 0) return;
  for (int y = std::max(0, top - 4); y <= std::min(p.h - 1, bottom + 4); ++y)
    for (int x = std::max(0, left - 4); x <= std::min(p.w - 1, right + 4); ++x)
      for (int c = 0; c < 3; ++c) p.At(x, y)[c] = 0;
}

// A quarter of the size: each pixel the rounded mean of a 4 x 4 block.
Picture Small(const Picture& p) {
  Picture s;
  s.w = p.w / 4;
  s.h = p.h / 4;
  s.rgb.resize(static_cast<size_t>(s.w) * s.h * 3);
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int dy = 0; dy < 4; ++dy)
          for (int dx = 0; dx < 4; ++dx) sum += p.At(x * 4 + dx, y * 4 + dy)[c];
        s.At(x, y)[c] = static_cast<uint8_t>((sum + 8) / 16);
      }
  return s;
}

// Differences in white on black, 8 times as strong.
Picture Diff(const Picture& a, const Picture& b) {
  Picture d = a;
  for (size_t i = 0; i < d.rgb.size() && i < b.rgb.size(); ++i)
    d.rgb[i] = static_cast<uint8_t>(std::min(255, 8 * std::abs(a.rgb[i] - b.rgb[i])));
  return d;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The engine with its libraries and one built program folder, copied into a folder of its own.
void MakeProgramFolder(const fs::path& program, const fs::path& into) {
  const auto copy = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
  fs::copy(kBinary / "bin/orvane", into / "orvane", copy);
  for (const auto& entry : fs::directory_iterator(kBinary / "bin"))
    if (entry.path().extension() == ".so") fs::copy(entry.path(), into / entry.path().filename(), copy);
  if (fs::exists(kBinary / "bin/modules")) fs::copy(kBinary / "bin/modules", into / "modules", copy);
  fs::copy(program, into, copy);
  fs::create_directories(into / "run");
  fs::permissions(into / "run", fs::perms::owner_all, fs::perm_options::replace);
  fs::create_directories(into / "config");
  fs::create_directories(into / "captures");
}

// Runs the engine on game.mei in the folder with an input script, headless, with its own runtime
// and settings folders; stdout and stderr go to out.txt and err.txt. The exit status, -1 when
// it did not exit.
// The script is copied into the folder first: its capture folder is named relative to it.
int RunEngine(const fs::path& folder, const fs::path& source_script, double* seconds) {
  const fs::path script = folder / source_script.filename();
  fs::copy_file(source_script, script, fs::copy_options::overwrite_existing);
  const std::string command = "cd '" + folder.string() +
                              "' && env ORVANE_BACKEND=headless XDG_RUNTIME_DIR=\"$PWD/run\" "
                              "XDG_CONFIG_HOME=\"$PWD/config\" ORVANE_INPUT_SCRIPT='" +
                              script.string() + "' ./orvane game.mei >out.txt 2>err.txt";
  const double start = Seconds();
  const int status = std::system(command.c_str());
  *seconds = Seconds() - start;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The data paths (UTF-8, relative to the folder) of every file the engine opened, from the
// trace lines of its log: disk files by their host path inside the folder, archive members by
// their names.
std::set<std::string> TracedDataFiles(const fs::path& folder) {
  std::set<std::string> opened;
  std::istringstream log(ReadText(folder / "orvane.log"));
  const std::string prefix = folder.string() + "/";
  std::string line;
  while (std::getline(log, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("[trace-files] \"", 0) != 0 || line.size() < 7 ||
        line.substr(line.size() - 7) != " opened")
      continue;
    const size_t a = line.find('"'), b = line.find('"', a + 1);
    if (b == std::string::npos) continue;
    const std::string first = line.substr(a + 1, b - a - 1);
    if (line.compare(b + 1, 9, " archive ") == 0) {
      std::string name;
      orvane::Cp932ToUtf8(first, &name, true);
      opened.insert(name);
      continue;
    }
    const size_t c = line.find('"', b + 1), d = line.find('"', c + 1);
    if (d == std::string::npos) continue;
    const std::string host = line.substr(c + 1, d - c - 1);
    if (host.rfind(prefix, 0) == 0) opened.insert(host.substr(prefix.size()));
  }
  return opened;
}

// Every data file of the built loose folder.
std::set<std::string> DataFiles() {
  const fs::path loose = kBinary / "samples/game";
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(loose)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), loose).generic_string();
    if (name != "game.mei" && name != "core.opi") files.insert(name);
  }
  return files;
}

// What run 1 never needs: the chapter selections after one and two clears, and the game-over
// path with its guilty verdict.
const std::set<std::string> kUnusedInRunOne = {
    "scn/menu/gameover.scn", "scn/menu/select1.scn",  "scn/menu/select2.scn",  "sys/court_guilty0.png",
    "sys/court_guilty0.spr", "sys/court_guilty1.png", "sys/court_guilty1.spr",
};

// A colour the frame must show at a point (within a tolerance per channel), goldens aside.
struct Probe {
  const char* frame;
  int x, y;
  uint8_t rgb[3];
  int tolerance;
  const char* what;
};
const Probe kProbes[] = {
    {"title", 400, 2, {0x14, 0x1C, 0x3C}, 6, "the title's sky at its top"},
    {"title", 300, 430, {0x28, 0x30, 0x60}, 40, "the begin button at rest"},
    {"first_page", 400, 595, {0x12, 0x1A, 0x3A}, 24, "the message window"},
    {"witness_stand", 20, 10, {0x4A, 0x3A, 0x2C}, 8, "the court's wall"},
    {"cross_examination", 775, 64, {0x40, 0xD0, 0x60}, 8, "the fifth unit of the life gauge"},
    {"item_page", 700, 120, {0x2A, 0x1C, 0x12}, 24, "the item page's window"},
    {"verdict", 400, 20, {0x5A, 0x46, 0x32}, 10, "the judge's wall above the verdict"},
};

// The title's golden keeps the whole size: the check of the real window under Xvfb compares the
// window with it pixel for pixel.
constexpr const char* kFullSizeGolden = "title";

const char* const kKeyFrames[] = {"title",     "first_page",  "witness_stand", "cross_examination",
                                  "item_page", "save_prompt", "verdict"};

TEST(SamplePlay, HeadlessRunsOnBothProgramFolders) {
  const bool write = std::getenv("ORVANE_WRITE_GOLDENS") != nullptr;
  const fs::path diff_dir = kBinary / "tests/samples/diff";
  std::map<std::string, Picture> first;
  std::string first_name;
  for (const char* variant : {"game", "game-dat"}) {
    SCOPED_TRACE(variant);
    const fs::path program = kBinary / "samples" / variant;
    ASSERT_TRUE(fs::exists(program / "game.mei")) << program << " is not built";
    ScratchDir scratch("sample_play_");
    const fs::path folder = scratch.Dir();
    MakeProgramFolder(program, folder);

    double seconds = 0;
    ASSERT_EQ(RunEngine(folder, kSource / "samples/game/play.txt", &seconds), 0)
        << ReadText(folder / "err.txt");
    std::printf("[%s] run 1 took %.1f s\n", variant, seconds);
    EXPECT_EQ(ReadText(folder / "err.txt"), "");
    EXPECT_EQ(ReadText(folder / "derora.sav"), kSaveAfterRunOne);
    // The trace: every data file run 1 needs was opened (the typing and page-turn sounds among
    // them), and nothing else is missing.
    const std::set<std::string> traced = TracedDataFiles(folder);
    std::set<std::string> unopened;
    for (const std::string& f : DataFiles())
      if (!traced.count(f)) unopened.insert(f);
    EXPECT_EQ(unopened, kUnusedInRunOne);
    for (const char* effect : {"sys/se/文字表示.wav", "sys/se/文字クリック.wav"}) {
      std::string name;  // the literal is cp932, the traced names UTF-8
      orvane::Cp932ToUtf8(effect, &name, true);
      EXPECT_TRUE(traced.count(name)) << name;
    }

    std::map<std::string, Picture> frames;
    for (const char* name : {"title", "first_page", "witness_stand", "cross_examination", "item_page",
                             "save_prompt", "verdict", "verdict_page"}) {
      Picture p;
      ASSERT_TRUE(ReadPpm(folder / "captures" / (std::string(name) + ".ppm"), &p)) << name;
      EXPECT_EQ(p.w, 800);
      EXPECT_EQ(p.h, 600);
      frames[name] = p;
    }
    for (const Probe& probe : kProbes) {
      const uint8_t* got = frames[probe.frame].At(probe.x, probe.y);
      for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(got[c] - probe.rgb[c]), probe.tolerance)
            << probe.frame << ": " << probe.what << " at " << probe.x << "," << probe.y << " channel " << c;
    }
    for (const char* name : kKeyFrames) {
      Picture masked = frames[name];
      MaskCursor(masked);
      const fs::path golden = kGoldens / (std::string(name) + ".png");
      if (write && first.empty()) {
        fs::create_directories(kGoldens);
        EXPECT_TRUE(WritePng(golden, std::string(name) == kFullSizeGolden ? masked : Small(masked)))
            << golden;
        continue;
      }
      Picture expected;
      ASSERT_TRUE(ReadPng(golden, &expected)) << golden << " (ORVANE_WRITE_GOLDENS=1 writes it)";
      const Picture small = expected.w == masked.w ? masked : Small(masked);
      if (small == expected) continue;
      fs::create_directories(diff_dir);
      const std::string base = std::string(variant) + "_" + name;
      WritePng(diff_dir / (base + ".png"), small);
      WritePng(diff_dir / (base + "_diff.png"), Diff(small, expected));
      ADD_FAILURE() << name << " differs from its golden; see " << (diff_dir / (base + "_diff.png"));
    }
    if (first.empty()) {
      first = frames;
      first_name = variant;
    } else {
      for (const auto& [name, picture] : frames)
        EXPECT_TRUE(picture == first[name]) << name << " differs from " << first_name;
    }

    // Run 2 in the same folder: the title offers load and the play resumes at the verdict.
    fs::remove_all(folder / "captures");
    fs::create_directories(folder / "captures");
    ASSERT_EQ(RunEngine(folder, kSource / "tests/samples/play_load.txt", &seconds), 0)
        << ReadText(folder / "err.txt");
    std::printf("[%s] run 2 took %.1f s\n", variant, seconds);
    EXPECT_EQ(ReadText(folder / "err.txt"), "");
    Picture resume, title;
    ASSERT_TRUE(ReadPpm(folder / "captures/resume.ppm", &resume));
    EXPECT_TRUE(resume == frames["verdict_page"]) << "the load resumes on the frame run 1 showed there";
    ASSERT_TRUE(ReadPpm(folder / "captures/title_load.ppm", &title));
    EXPECT_FALSE(title == frames["title"]) << "the title offers load";
    EXPECT_EQ(ReadText(folder / "derora.sav"), kSaveAfterRunOne) << "the clear count stays 1";
  }
}

}  // namespace
