// The sample game played whole on the fake engine: its data (as the sources describe it, as the
// build generates it, and packed in the archive) run through the plug-in's `start` from the title
// to the exit, clicked by the scripted play of samples/game/play.txt or by a player that answers
// each wait with the next of a list of choices.
#include <gtest/gtest.h>

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

#include "base/ddatafile.h"
#include "base/dfile.h"
#include "game/choice.h"
#include "game/engine_api.h"
#include "game/plugin.h"
#include "game/save.h"
#include "game/sprite.h"
#include "game/text_layer.h"
#include "platform/hostpath.h"
#include "tests/samples/expected_save.h"
#include "tests/support/fake_engine.h"
#include "tests/support/scratch_dir.h"

namespace {

namespace fs = std::filesystem;
using orvane_test::FakeEngine;
using orvane_test::ScratchDir;

const fs::path kSample = fs::path(ORVANE_SOURCE_DIR) / "samples/game";

std::string ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(orvane::Utf8ToCp932(utf8, &out)) << utf8;
  return out;
}

std::string Utf8(const std::string& cp932) {
  std::string out;
  orvane::Cp932ToUtf8(cp932, &out, true);
  return out;
}

// The game's files as the engine finds them: data paths in cp932 and their bytes.
using Files = std::map<std::string, std::string>;

// From the sources: every text of data/ in cp932, every picture of the manifest as a header of
// its size (all the fake reads of a picture), every sound as a stand-in (the fake reads none).
Files SourceFiles() {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(kSample / "data")) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), kSample / "data").generic_string();
    files[Cp932(name)] = Cp932(ReadHostFile(entry.path()));
  }
  std::istringstream manifest(ReadHostFile(kSample / "assets.txt"));
  std::string line;
  while (std::getline(manifest, line)) {
    std::istringstream words(line);
    std::string kind, path;
    int32_t w = 0, h = 0;
    words >> kind >> path;
    if (kind == "png" && (words >> w >> h)) files[Cp932(path)] = FakeEngine::PngFile(w, h);
    if (kind == "wav" || kind == "ogg") files[Cp932(path)] = "sound";
  }
  return files;
}

// The generated data tree of a program folder: every file but the program's own.
Files TreeFiles(const fs::path& dir) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), dir).generic_string();
    if (name == "game.mei" || name == "core.opi" || name == "derora.dat") continue;
    files[Cp932(name)] = ReadHostFile(entry.path());
  }
  return files;
}

// The members of a data archive under their names.
Files ArchiveFiles(const fs::path& path) {
  Files files;
  DDataFile archive;
  EXPECT_TRUE(archive.MountFile(DString(path.string().c_str()))) << path;
  for (uint32_t i = 0;; ++i) {
    DDataFileMember* member = archive.GetMember(i);
    if (!member) break;
    DFile file;
    EXPECT_TRUE(archive.OpenMember(member, file));
    std::string bytes(static_cast<size_t>(file.GetSize()), '\0');
    EXPECT_EQ(file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())),
              static_cast<int64_t>(bytes.size()));
    files[archive.GetMemberName(member)] = bytes;
  }
  return files;
}

// ---- the player ----

// One answer to a wait for the player: a click on the page, on a button or on a text link (by
// its name or target); an optional capture of the screen just before it.
struct Choice {
  std::string kind;  // "page", "button", "link"
  std::string name;
  std::string capture;
};

// "page", "button:begin", "link:go", each optionally followed by "@capture".
std::vector<Choice> Choices(const std::vector<std::string>& texts) {
  std::vector<Choice> out;
  for (const std::string& t : texts) {
    Choice c;
    std::string body = t;
    if (const size_t at = body.find('@'); at != std::string::npos) {
      c.capture = body.substr(at + 1);
      body.resize(at);
    }
    const size_t colon = body.find(':');
    c.kind = body.substr(0, colon);
    if (colon != std::string::npos) c.name = body.substr(colon + 1);
    out.push_back(c);
  }
  return out;
}

// A screen capture that waits for a picture: taken `delay` ms after the first frame that shows
// it whole (no transition over it).
struct PictureCapture {
  std::string name;
  std::string picture;
  DWORD delay;
};

// A point of the play: the name of a capture and the frame it took (the last frame drawn by its
// time).
struct Capture {
  std::string name;
  DWORD time;
};

// Waits that nothing but the player ends ask the engine to wait this long or longer.
constexpr int32_t kEndlessWait = 1 << 20;

// The player of one run: it answers the waits from a list of choices (and writes the input
// script that does the same), or the fake replays an input script and it only watches.
struct Player {
  std::vector<Choice> choices;
  size_t next = 0;
  bool predicate = false;  // the running wait has an input predicate
  DWORD last_action = FakeEngine::kClockStart;
  DWORD quiet_until = 0;  // no new answer before the last one was delivered
  bool ran_out = false;
  std::vector<PictureCapture> picture_captures;
  std::set<std::string> pictures_seen;
  std::vector<Capture> captures;
  std::vector<std::pair<DWORD, std::string>> script;  // the input script's lines by time
  std::vector<std::string> opened;                    // every data file the game opened
};
Player* g_player = nullptr;

void Line(DWORD time, const std::string& text) {
  g_player->script.emplace_back(time, std::to_string(time - FakeEngine::kClockStart) + " " + text);
}

bool ButtonCentre(const std::string& name, int32_t* x, int32_t* y) {
  for (int32_t slot = 0; slot < kSpriteSlots; ++slot) {
    const char* button = ButtonName(slot);
    if (!button || name != button || !sprIsShown(slot)) continue;
    int32_t left = 0, top = 0, w = 0, h = 0;
    sprGetTopLeft(slot, &left, &top);
    sprGetSize(slot, &w, &h);
    // A quarter down: the title's "begin" is hit there with and without the load button below
    // it, so the same play also starts from a title that offers load.
    *x = left + w / 2;
    *y = top + h / 4;
    return true;
  }
  return false;
}

bool LinkCentre(const std::string& target, int32_t* x, int32_t* y) {
  const DTextLayer& layer = TextLayer(CurrentTextLayer());
  for (const auto& link : layer.links) {
    if (target != link->target) continue;
    *x = layer.x + (link->left + link->right) / 2;
    *y = layer.y + (link->top + link->bottom) / 2;
    return true;
  }
  return false;
}

// The next choice, placed well after the wait began: a second and half the time the game took
// since the last answer later, so an engine that draws more slowly still finds the page complete
// (a click while the text is typed is lost).
void Answer(FakeEngine& fake, DWORD now) {
  Player& p = *g_player;
  if (p.next >= p.choices.size()) {
    p.ran_out = true;
    fake.SetExit(true);
    return;
  }
  const Choice& c = p.choices[p.next++];
  int32_t x = 400, y = 300;
  bool found = c.kind == "page";
  if (c.kind == "button") found = ButtonCentre(c.name, &x, &y);
  if (c.kind == "link") found = LinkCentre(c.name, &x, &y);
  if (!found) {
    ADD_FAILURE() << "choice " << p.next - 1 << " (" << c.kind << " " << c.name << ") is not on the screen";
    p.ran_out = true;
    fake.SetExit(true);
    return;
  }
  const DWORD at = (now + 1000 + (now - p.last_action) / 2 + 9) / 10 * 10;
  if (!c.capture.empty()) {
    Line(at - 300, "capture " + c.capture + ".ppm");
    p.captures.push_back({c.capture, at - 300});
  }
  Line(at - 100, "move " + std::to_string(x) + " " + std::to_string(y));
  Line(at, "press left " + std::to_string(x) + " " + std::to_string(y));
  Line(at + 60, "release left " + std::to_string(x) + " " + std::to_string(y));
  fake.ScriptMouse(at - 100, 3, x, y);
  fake.ScriptMouse(at, 0, x, y);
  fake.ScriptMouse(at + 60, 4, x, y);
  p.last_action = at;
  p.quiet_until = at + 60;
}

int32_t PlayerWaitEvent(int32_t ms) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return 0;
  Player& p = *g_player;
  const DWORD now = fake->Now();
  if (!p.choices.empty() && p.predicate && ms >= kEndlessWait &&
      static_cast<int32_t>(now - p.quiet_until) >= 0)
    Answer(*fake, now);
  return fake->WaitEvent(ms);
}

void PlayerClearEvent() noexcept {
  g_player->predicate = false;
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearEvent();
}

void PlayerWaitKeyEvent(int32_t flag) noexcept {
  g_player->predicate = flag != 0;
  if (FakeEngine* fake = FakeEngine::Current()) fake->WaitKeyEvent(flag);
}

int32_t PlayerRenderScreen() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return 0;
  const int32_t ok = fake->RenderScreen();
  Player& p = *g_player;
  if (!ok || fake->Frames().empty()) return ok;
  for (const PictureCapture& c : p.picture_captures) {
    if (p.pictures_seen.count(c.name)) continue;
    for (const auto& s : fake->Frames().back().sprites) {
      if (s.image_name.rfind(c.picture, 0) != 0 || s.wipe || s.alpha[3] < 1.0f) continue;
      p.pictures_seen.insert(c.name);
      const DWORD at = (fake->Now() + c.delay + 9) / 10 * 10;
      if (!p.choices.empty()) {
        Line(at, "capture " + c.name + ".ppm");
        p.captures.push_back({c.name, at});
      }
      break;
    }
  }
  return ok;
}

void Opened(const char* path) {
  if (path) g_player->opened.push_back(path);
}

ApiHandle* PlayerCreateFile(const char* path, int32_t mode) noexcept {
  Opened(path);
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateFile(path, mode) : nullptr;
}

ApiHandle* PlayerLoadImage(int32_t w, int32_t h, const char* path, int32_t flags) noexcept {
  Opened(path);
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadImage(w, h, path, flags) : nullptr;
}

ApiHandle* PlayerLoadSound(const char* path, int32_t voices) noexcept {
  Opened(path);
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadSound(path, voices) : nullptr;
}

ApiHandle* PlayerLoadWipe(const char* path) noexcept {
  Opened(path);
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->LoadWipe(path) : nullptr;
}

int32_t PlayerAddStreamList(ApiHandle* stream, const char* path, int32_t repeat, float loop,
                            int32_t flags) noexcept {
  Opened(path);
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->AddStreamList(stream, path, repeat, loop, flags) : 0;
}

// Engine settings the game makes at its start; the fake has nothing to model for them.
int32_t AcceptText(const char*) noexcept {
  return 1;
}
void AcceptFlag(int32_t) noexcept {}
void AcceptCopyright(const char*) noexcept {}

// Reads an input script into the fake: mouse lines as mouse events, keys as keys, captures as
// points of the play. Unknown lines fail the test.
void Replay(FakeEngine& fake, const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "virtual-clock" || first == "trace-files" || first == "capture-folder") continue;
    const DWORD at = FakeEngine::kClockStart + static_cast<DWORD>(std::stoul(first));
    std::string what;
    words >> what;
    int32_t x = 0, y = 0;
    std::string button;
    if (what == "move" && (words >> x >> y)) {
      fake.ScriptMouse(at, 3, x, y);
    } else if ((what == "press" || what == "release") && (words >> button >> x >> y)) {
      const int32_t base = button == "left" ? 0 : button == "middle" ? 1 : 2;
      fake.ScriptMouse(at, what == "press" ? base : base + 4, x, y);
    } else if (what == "key-down" || what == "key-up") {
      std::string code;
      words >> code;
      fake.ScriptKey(at, static_cast<int32_t>(std::stoul(code, nullptr, 0)), what == "key-down");
    } else if (what == "capture") {
      std::string name;
      words >> name;
      g_player->captures.push_back({name.substr(0, name.rfind('.')), at});
    } else if (what == "close") {
      fake.SetExitAt(at);
    } else {
      ADD_FAILURE() << "input script line not understood: " << line;
    }
  }
}

// The whole play of run 1: the title, the chapter selection, the chapter with its choices, the
// court record, the testimony and the cross-examination (a press, a wrong and a right
// presentation), the save, the verdict, the closing scene, and the exit from the title.
const std::vector<std::string> kRunOne = {
    "button:begin@title", "link:go",
    // The hall: the scene caption, the talk, the two-link choice, the evidence.
    "page", "page@first_page", "page", "page", "page", "link:ask_study", "page", "page", "page@item_page",
    // The court record from its button: the next item, its magnified picture, the profiles.
    "button:sys_itemkiroku", "button:right@record_page", "button:mag", "page@magnified", "button:chara",
    "button:right", "button:tojiru@profile", "page",
    // The court: judge, prosecutor, lawyer, witness; the testimony; the cross-examination.
    "page", "page", "page", "page@witness_stand", "page", "page", "page", "page", "page", "page",
    "button:confront@cross_examination", "button:tsuki", "page", "button:right", "button:shake", "page",
    "page", "button:confront", "button:right", "button:tsuki", "page", "page", "page", "page",
    // The judge, the save, the verdict, the closing scene, the title again.
    "page", "link:yes@save_prompt", "page@verdict_page", "page", "page", "page", "button:exit@title_again"};

// Run 2 from the same folder: load, the verdict again, the closing scene, the title, exit.
const std::vector<std::string> kRunTwo = {
    "button:load@title_load", "page@resume", "page", "page", "page", "button:exit"};

// The no-life path: five wrong presentations in the cross-examination, the no-life scene with
// its verdict, the game-over scene, and the title.
std::vector<std::string> NoLifeRun() {
  const auto first = std::find(kRunOne.begin(), kRunOne.end(), "button:confront@cross_examination");
  std::vector<std::string> run(kRunOne.begin(), first);
  for (int i = 0; i < 5; ++i)
    for (const char* c : {"button:confront", "button:tsuki", "page"}) run.push_back(c);
  for (const char* c : {"page@nolife", "page@gameover", "button:exit"}) run.push_back(c);
  return run;
}

// One run of the game on its own fake engine; the save folder is the caller's.
class Session {
 public:
  Session(const Files& files, const std::string& save_folder) {
    g_player = &player_;
    auto& x = engine_.Exports();
    x.ovWaitEvent = &PlayerWaitEvent;
    x.ovClearEvent = &PlayerClearEvent;
    x.ovWaitKeyEvent = &PlayerWaitKeyEvent;
    x.ovtsRenderScreen = &PlayerRenderScreen;
    x.ovCreateFile = &PlayerCreateFile;
    x.ovtsLoadImage = &PlayerLoadImage;
    x.ovLoadSound = &PlayerLoadSound;
    x.ovtsLoadWipe = &PlayerLoadWipe;
    x.ovAddStreamList = &PlayerAddStreamList;
    x.ovSetTitle = &AcceptText;
    x.ovCheckSystemName = &AcceptText;
    x.ovSetCopyright = &AcceptCopyright;
    x.ovUseGDI = &AcceptFlag;
    x.ovSetFPS = &AcceptFlag;
    x.ovSetTimePause = &AcceptFlag;
    x.ovtsSetLinearMode = &AcceptFlag;
    EXPECT_TRUE(BindEngineApi(&FakeEngine::Lookup, nullptr));
    SetSaveFolderForTests(save_folder.c_str());
    for (const auto& [path, bytes] : files) engine_.AddFile(path, bytes);
    player_.picture_captures = {{"verdict", "sys/court_innocence1", 300},
                                {"guilty", "sys/court_guilty1", 300}};
  }
  ~Session() {
    SetSaveFolderForTests(nullptr);
    ClearEngineApi();
    g_player = nullptr;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Plays the game once, answering from the list, or from the input script when the list is
  // empty, until `start` returns; nothing may be left to answer and no box may show.
  void Play(const std::vector<std::string>& answers, const std::string& script = "") {
    player_.choices = Choices(answers);
    if (answers.empty()) Replay(engine_, script);
    EXPECT_EQ(start(0), 1);
    EXPECT_FALSE(player_.ran_out) << "the game still waited after the last answer";
    EXPECT_EQ(player_.next, player_.choices.size()) << "answers left unused";
    for (const auto& m : engine_.Messages()) ADD_FAILURE() << "box: " << Utf8(m.text);
  }

  // The last frame drawn by a capture's time.
  const FakeEngine::Frame* FrameAt(const std::string& name) const {
    for (const Capture& c : player_.captures) {
      if (c.name != name) continue;
      const FakeEngine::Frame* last = nullptr;
      for (const auto& f : engine_.Frames())
        if (static_cast<int32_t>(c.time - f.time) >= 0) last = &f;
      return last;
    }
    ADD_FAILURE() << "no capture " << name;
    return nullptr;
  }

  // What a frame shows, without the engine's handles: picture, place, size, level, map, alpha.
  std::string Describe(const std::string& capture) const {
    const FakeEngine::Frame* frame = FrameAt(capture);
    std::string out;
    if (!frame) return out;
    for (const auto& s : frame->sprites) {
      char line[512];
      std::snprintf(line, sizeof(line), "%s %d,%d %dx%d L%d map %d,%d,%d,%d a%.3f\n", s.image_name.c_str(),
                    s.x, s.y, s.w, s.h, s.level, s.map[0], s.map[1], s.map[2], s.map[3], s.alpha[3]);
      out += line;
    }
    return out;
  }

  // Whether a frame draws a picture (by the start of its data path).
  bool Shows(const std::string& capture, const std::string& picture) const {
    const FakeEngine::Frame* frame = FrameAt(capture);
    if (!frame) return false;
    for (const auto& s : frame->sprites)
      if (s.image_name.rfind(picture, 0) == 0 && s.alpha[3] > 0.0f) return true;
    return false;
  }

  // Whether the game opened a file (a data path as the game writes it: cp932, as literals are).
  bool Opened(const std::string& path) const {
    return std::find(player_.opened.begin(), player_.opened.end(), path) != player_.opened.end();
  }
  const std::vector<std::string>& OpenedFiles() const { return player_.opened; }

  // The input script of the answers just played, as samples/game/play.txt holds it.
  std::string Script(const std::string& what) const {
    auto lines = player_.script;
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
      return static_cast<int32_t>(a.first - b.first) < 0;
    });
    std::string text =
        "# " + what +
        "\n# Written by tests/samples/sample_game_test.cc (ORVANE_WRITE_PLAY=1): each click comes\n"
        "# well after its page is complete, each capture just before its click.\n"
        "virtual-clock\n"
        "trace-files\n"
        "capture-folder captures\n";
    for (const auto& l : lines) text += l.second + "\n";
    // The window's close request follows the last line; the game has ended long before it.
    if (!lines.empty())
      text += "# The game has left by now: the close request after this line never comes.\n" +
              std::to_string(lines.back().first - FakeEngine::kClockStart + 5000) + " move 0 0\n";
    return text;
  }

 private:
  FakeEngine engine_;
  Player player_;
};

// Compares a written input script with the file, or rewrites the file with ORVANE_WRITE_PLAY=1.
void CheckScript(const fs::path& file, const std::string& script) {
  if (std::getenv("ORVANE_WRITE_PLAY")) {
    std::ofstream(file, std::ios::binary) << script;
    return;
  }
  EXPECT_EQ(ReadHostFile(file), script)
      << file << " no longer matches the play; ORVANE_WRITE_PLAY=1 rewrites it";
}

const fs::path kPlayOne = kSample / "play.txt";
const fs::path kPlayTwo = fs::path(ORVANE_SOURCE_DIR) / "tests/samples/play_load.txt";

// Runs 1 and 2 answered from their lists: every scene each answer expects is on the screen, the
// save holds the chapter, the load resumes on the frame that run 1 showed there, and the same
// answers written as input scripts equal play.txt and play_load.txt.
TEST(SampleGame, RunsReachEverySceneSaveAndResume) {
  ScratchDir folder("sample_game_");
  const Files files = SourceFiles();
  std::string verdict_page;
  {
    Session one(files, folder.Dir());
    one.Play(kRunOne);
    const std::pair<const char*, std::vector<const char*>> expects[] = {
        {"title", {"sys/title_bg", "sys/title_begin", "sys/title_exit"}},
        {"first_page", {"scn/maid/bg_hall", "scn/maid/chara_maid", "sys/text_msg", "sys/name_maid"}},
        {"item_page", {"sys/text_item", "scn/maid/item_slip"}},
        {"record_page",
         {"sys/text_item", "scn/maid/item_badge", "sys/btn_item_right", "sys/btn_item_tojiru"}},
        {"magnified", {"scn/maid/item_slip_mag"}},
        {"profile", {"scn/maid/face_butler", "sys/btn_item_item"}},
        {"witness_stand", {"sys/bg_court_main", "scn/maid/chara_butler", "sys/name_butler"}},
        {"cross_examination", {"sys/btn_inquiry_shake", "sys/btn_inquiry_confront", "sys/court_life"}},
        {"verdict_page", {"sys/bg_court_judge", "sys/chara_judge", "sys/name_judge", "sys/text_msg"}},
        {"verdict", {"sys/court_innocence0", "sys/court_innocence1"}},
        {"title_again", {"sys/title_begin", "sys/title_load", "sys/title_exit"}},
    };
    for (const auto& [capture, pictures] : expects) {
      SCOPED_TRACE(capture);
      for (const char* picture : pictures) EXPECT_TRUE(one.Shows(capture, picture)) << picture;
    }
    EXPECT_FALSE(one.Shows("title", "sys/title_load")) << "no save yet";
    EXPECT_FALSE(one.Shows("save_prompt", "sys/text_msg")) << "the save asks on the full window";
    EXPECT_EQ(folder.Read("derora.sav"), kSaveAfterRunOne);
    verdict_page = one.Describe("verdict_page");
    CheckScript(
        kPlayOne,
        one.Script("The scripted play of the sample game: title, begin, chapter, save, verdict, exit."));
  }
  Session two(files, folder.Dir());
  two.Play(kRunTwo);
  EXPECT_TRUE(two.Shows("title_load", "sys/title_load"));
  EXPECT_EQ(two.Describe("resume"), verdict_page);
  EXPECT_FALSE(two.Opened("scn/menu/select0.scn")) << "the load goes straight to the chapter";
  EXPECT_EQ(folder.Read("derora.sav"), kSaveAfterRunOne) << "the clear count stays 1";
  CheckScript(kPlayTwo,
              two.Script("The sample game's second run: load from the title, the verdict again, exit."));
}

// Five wrong presentations empty the life gauge: the no-life scene gives the guilty verdict and
// its result leads to the game-over scene; nothing is saved.
TEST(SampleGame, NoLifePathEndsInGameOver) {
  ScratchDir folder("sample_game_");
  Session play(SourceFiles(), folder.Dir());
  play.Play(NoLifeRun());
  EXPECT_TRUE(play.Shows("guilty", "sys/court_guilty0"));
  EXPECT_TRUE(play.Opened("scn/menu/gameover.scn"));
  EXPECT_FALSE(play.Shows("gameover", "sys/bg_court_judge"));
  EXPECT_FALSE(play.Opened("scn/menu/clear0.scn"));
  EXPECT_EQ(folder.Read("derora.sav"), "");
}

// The data variants the scripted play runs on: the sources always; the generated program
// folders of the build when they exist.
std::vector<std::pair<std::string, Files>> DataVariants() {
  std::vector<std::pair<std::string, Files>> variants = {{"sources", SourceFiles()}};
  const fs::path built = fs::path(ORVANE_BINARY_DIR) / "samples";
  if (fs::exists(built / "game/sys")) variants.emplace_back("loose", TreeFiles(built / "game"));
  if (fs::exists(built / "game-dat/derora.dat"))
    variants.emplace_back("archive", ArchiveFiles(built / "game-dat/derora.dat"));
  return variants;
}

// play.txt, play_load.txt and play.txt again, replayed as they are on every data variant: each
// run ends by itself with no box, the save is as expected, every variant shows the same frames
// at the captures, and the typing and page-turn effects are among the files opened.
TEST(SampleGame, ScriptedPlayOnEveryData) {
  const std::string one = ReadHostFile(kPlayOne), two = ReadHostFile(kPlayTwo);
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());
  const char* const captures[] = {"title",       "first_page",   "item_page",     "record_page",
                                  "magnified",   "profile",      "witness_stand", "cross_examination",
                                  "save_prompt", "verdict_page", "verdict",       "title_again"};
  std::map<std::string, std::string> first_frames;
  for (const auto& [variant, files] : DataVariants()) {
    SCOPED_TRACE(variant);
    ScratchDir folder("sample_game_");
    std::map<std::string, std::string> frames;
    {
      Session run(files, folder.Dir());
      run.Play({}, one);
      for (const char* c : captures) frames[c] = run.Describe(c);
      for (const char* effect : {"sys/se/文字表示.wav", "sys/se/文字クリック.wav"})
        EXPECT_TRUE(run.Opened(effect)) << effect;
      for (const std::string& path : run.OpenedFiles()) EXPECT_TRUE(files.count(path)) << Utf8(path);
    }
    EXPECT_EQ(folder.Read("derora.sav"), kSaveAfterRunOne);
    {
      Session run(files, folder.Dir());
      run.Play({}, two);
      EXPECT_EQ(run.Describe("resume"), frames["verdict_page"]);
    }
    EXPECT_EQ(folder.Read("derora.sav"), kSaveAfterRunOne);
    {
      // play.txt again over that save: the title offers load and the chapter selection is the
      // one after a clear, and the same clicks still play it through.
      Session run(files, folder.Dir());
      run.Play({}, one);
      EXPECT_TRUE(run.Shows("title", "sys/title_load"));
      EXPECT_TRUE(run.Opened("scn/menu/select1.scn"));
    }
    EXPECT_EQ(folder.Read("derora.sav"), kSaveAfterRunOne);
    if (first_frames.empty())
      first_frames = frames;
    else
      for (const char* c : captures) EXPECT_EQ(frames[c], first_frames[c]) << c;
  }
}

}  // namespace
