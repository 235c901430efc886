// System and window built-ins and exports on the headless host: message answers, the
// single-instance check, the data-file archive, shell requests, directories, GDI mode.
#include <string>
#include <vector>

#include "api/display_ops.h"
#include "api/ov_api.h"
#include "api_fixture.h"
#include "base/dapplication.h"
#include "display/draw/screen.h"
#include "display/tss/dtss_manager.h"
#include "platform/host.h"
#include "shell/cmainwindow.h"
#include "shell/engine.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "vm/script_loader.h"
#include "vm/startup_config.h"

namespace {

constexpr uint32_t kMessage = 58, kUrl = 141, kCommand = 138, kCheckSystemName = 212, kGetCurrentPath = 132,
                   kGetWindowsPath = 131;

class SystemFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    app_.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
    DSetApplication(&app_);
    orvane::host::ResetHeadless();
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
  }
  void TearDown() override {
    EndAllTasks();
    MountedDataFile().Release();
    DSetApplication(nullptr);
    BuiltinFrame::TearDown();
  }
  static std::vector<std::string> Trace(const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : orvane::host::TakeTrace())
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
  }
  // A task in the task list, to see whether every task was asked to end.
  DRef<ScriptTask> ListedTask() {
    const auto bytes = meiasm::Assemble(".globals 1\n.method main\n.export 0\n OpReturn\n");
    const std::string path = scratch_.Path("t.mei");
    scratch_.Write("t.mei", std::string(bytes.begin(), bytes.end()));
    return LoadScript(path.c_str(), {}, 0, "main", kTaskList, true);
  }

  DApplication app_;
  orvane_test::ScratchDir scratch_{"orvane_api_system_"};
};

TEST_F(SystemFrame, MessageGivesOneOnlyForNo) {
  const struct { int flag, answer, want; } rows[] = {{1, IDYES, 0}, {1, IDNO, 1}, {0, IDOK, 0}};
  for (const auto& r : rows) {
    orvane::host::PushMessageBoxAnswer(r.answer);
    Str(1, "本文");
    Str(2, "題");
    Int(3, r.flag);
    Call(kMessage, {1, 2, 3});
    EXPECT_EQ(Result()->ToInt(), r.want) << r.flag << " " << r.answer;
  }
  orvane::host::PushMessageBoxAnswer(IDNO);
  EXPECT_EQ(ovMessage("t", "c", 1), 1);
}

TEST_F(SystemFrame, CheckSystemNameEndsEveryTaskOnlyInTheBuiltin) {
  DRef<ScriptTask> task = ListedTask();
  ASSERT_TRUE(task);
  EXPECT_EQ(ovCheckSystemName(""), 0);
  EXPECT_EQ(task->run_flags & kVmRunEnd, 0u);
  Str(1, "");
  Call(kCheckSystemName, {1});
  EXPECT_NE(task->run_flags & kVmRunEnd, 0u);
  EXPECT_EQ(ovCheckSystemName("api_test_instance"), 1);
}

// An archive of one member "m" holding "xyz": "KMF ", the count, then {name length, name, offset, size}.
std::string OneMemberArchive() {
  auto u32 = [](uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  return "KMF " + u32(1) + u32(1) + "m" + u32(8 + 13) + u32(3) + "xyz";
}

TEST_F(SystemFrame, SetDataFileMountsUnmountsAndLeavesNothingOnFailure) {
  scratch_.Write("good.dat", OneMemberArchive());
  EXPECT_EQ(ovSetDataFile("good.dat"), 1);  // relative to the running script's directory
  ASSERT_TRUE(MountedDataFile());
  EXPECT_TRUE(MountedDataFile()->IsMounted());
  EXPECT_NE(MountedDataFile()->Find(DString("m")), nullptr);
  MountedDataFile().Alloc(1);
  EXPECT_EQ(ovSetDataFile("missing.dat"), 0);
  EXPECT_FALSE(MountedDataFile());
  scratch_.Write("bad.dat", "not an archive at all");
  MountedDataFile().Alloc(1);
  EXPECT_EQ(ovSetDataFile("bad.dat"), 0);
  EXPECT_FALSE(MountedDataFile());
  MountedDataFile().Alloc(1);
  EXPECT_EQ(ovSetDataFile(""), 1);
  EXPECT_FALSE(MountedDataFile());
}

TEST_F(SystemFrame, UrlAndCommandHandTheShellTheirTextsAsSingleArguments) {
  Str(1, "https://example.invalid/a b; rm -rf x");
  Call(kUrl, {1});
  Str(1, "tool.exe");
  Str(2, "-a \"b c\"");
  Call(kCommand, {1, 2});
  EXPECT_EQ(Result()->ToInt(), 1);
  Str(2, "");
  Call(kCommand, {1, 2});
  EXPECT_EQ(Trace("shellexecute"),
            (std::vector<std::string>{"shellexecute 'open' 'https://example.invalid/a b; rm -rf x' ''",
                                      "shellexecute 'open' '" + scratch_.Dir() + "/tool.exe' '-a \"b c\"'",
                                      "shellexecute 'open' '" + scratch_.Dir() + "/tool.exe' ''"}));
  EXPECT_GT(ovUrl("x"), 32);
  EXPECT_EQ(ovCommand("", ""), 1);  // the running directory itself
}

TEST_F(SystemFrame, DirectoriesComeFromTheRunningScript) {
  Call(kGetCurrentPath);
  EXPECT_EQ(ResultText(), scratch_.Dir() + "/");
  char buffer[264];
  ovGetCurrentPath(buffer);
  EXPECT_EQ(std::string(buffer), scratch_.Dir() + "/");
  Call(kGetWindowsPath);
  EXPECT_EQ(ResultText(), "");
  EXPECT_EQ(ovSetTitle("no window yet"), 0);
}

}  // namespace

namespace {

struct FakeDisplay {
  static inline int32_t w = 640, h = 480;
  static inline bool full = false, flip = false, accept = true;
};

TEST_F(SystemFrame, WindowFunctionsGoThroughTheDisplayInterfaceAndFailWithoutOne) {
  // Without a display: results only, and SetWindowSize raises its message.
  Int(1, 7);
  Int(2, 7);
  Call(283, {1, 2});  // GetWindowSize writes the variables themselves
  EXPECT_EQ(Slot(1)->ToInt(), 0);
  EXPECT_EQ(Slot(2)->ToInt(), 0);
  Int(1, 800);
  Int(2, 600);
  Call(169, {1, 2});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("スクリーンサイズを変更できませんでした。"), std::string::npos);
  EXPECT_EQ(ovSetWindowSize(800, 600), 0);
  EXPECT_EQ(ovIsFullscreen(), 0);
  // The Draw unit's operations before its screen exists: failures, sizes zeroed.
  const DisplayOps none = SetDisplayOps({});
  InstallDrawDisplayOps();
  EXPECT_EQ(ovSetWindowSize(800, 600), 0);
  EXPECT_EQ(ovCheckFullscreenSize(640, 480), 0);
  int32_t zw = 5, zh = 5;
  ovGetWindowSize(&zw, &zh);
  EXPECT_EQ(zw, 0);
  EXPECT_EQ(zh, 0);
  SetDisplayOps(none);

  DisplayOps ops;
  ops.set_window_size = [](int32_t w, int32_t h) {
    return FakeDisplay::accept && (FakeDisplay::w = w, FakeDisplay::h = h, true);
  };
  ops.get_window_size = [](int32_t* w, int32_t* h) { *w = FakeDisplay::w, *h = FakeDisplay::h; };
  ops.is_fullscreen = [] { return FakeDisplay::full; };
  ops.check_fullscreen_size = [](int32_t w, int32_t) { return w == 640; };
  ops.set_fullscreen = [](bool on) { FakeDisplay::full = on; };
  ops.set_flipscreen = [](bool on) { FakeDisplay::flip = on; };
  const DisplayOps saved = SetDisplayOps(ops);
  Boxes().clear();
  Call(169, {1, 2});
  EXPECT_TRUE(Boxes().empty());
  Call(283, {1, 2});
  EXPECT_EQ(Slot(1)->ToInt(), 800);
  EXPECT_EQ(Slot(2)->ToInt(), 600);
  Int(1, 1);
  Call(170, {1});  // SetFullscreen
  Call(168);       // IsFullscreen
  EXPECT_EQ(Result()->ToInt(), 1);
  Call(171, {1});  // SetFlipscreen
  EXPECT_TRUE(FakeDisplay::flip);
  Int(1, 640);
  Int(2, 480);
  Call(230, {1, 2});
  EXPECT_EQ(Result()->ToInt(), 1);
  int32_t w = 0, h = 0;
  ovGetWindowSize(&w, &h);
  EXPECT_EQ(w, 800);
  SetDisplayOps(saved);
}

}  // namespace

namespace {

// Captions: SetTitle and ovSetTitle set the main window's text (a null text counts as empty);
// without a main window the export fails.
TEST_F(SystemFrame, CaptionsReachTheMainWindow) {
  EXPECT_EQ(ovSetTitle("no window"), 0);
  ASSERT_TRUE(MainWindow().Create());
  char text[64] = {};
  Str(1, "題名");
  Call(0, {1});
  GetWindowTextA(MainWindow().GetHandle(), text, sizeof text);
  EXPECT_STREQ(text, "題名");
  EXPECT_EQ(ovSetTitle("plug-in"), 1);
  GetWindowTextA(MainWindow().GetHandle(), text, sizeof text);
  EXPECT_STREQ(text, "plug-in");
  EXPECT_EQ(ovSetTitle(nullptr), 1);
  EXPECT_EQ(GetWindowTextA(MainWindow().GetHandle(), text, sizeof text), 0);
  MainWindow().Destroy();
}

}  // namespace

namespace {

// GDI mode through UseGDI and ovUseGDI in both display modes: in the sprite system's mode every
// call counts one use more or less; with the Draw unit the main window enters GDI mode once and
// leaves it once, however often it is asked.
TEST_F(SystemFrame, UseGdiCountsUsesOnlyInTheSpriteSystemsMode) {
  ASSERT_TRUE(MainWindow().Create());
  const struct {
    std::vector<int32_t> flags;
    int32_t draw, tss;  // the display unit's GDI-use count afterwards
  } cases[] = {
      {{1}, 1, 1},        {{1, 1}, 1, 2},  {{1, 1, 0}, 0, 1}, {{0}, 0, -1},
      {{1, 0, 0}, 0, -1}, {{-7, 2}, 1, 2}, {{1, 0, 1}, 1, 1},
  };
  for (const bool tss : {false, true}) {
    SetStartupFlags(tss ? kStartupTss : 0);
    for (const bool by_export : {false, true}) {
      for (const auto& c : cases) {
        if (tss)
          ASSERT_TRUE(TssManager().Create(MainWindow(), kDtssPoint));
        else
          ASSERT_TRUE(DrawScreen().Init(MainWindow()));
        for (int32_t flag : c.flags) {
          if (by_export) {
            ovUseGDI(flag);
          } else {
            Int(1, flag);
            Call(102, {1});
          }
        }
        const int32_t count = tss ? TssManager().GetGdiCount() : DrawScreen().GetGdiCount();
        EXPECT_EQ(count, tss ? c.tss : c.draw)
            << "tss=" << tss << " export=" << by_export << " case " << &c - cases;
        // Only the Draw side goes through the main window's GDI mode.
        EXPECT_EQ((MainWindow().GetStateFlags() & CMainWindow::kGdiMode) != 0, !tss && c.draw == 1)
            << "tss=" << tss << " case " << &c - cases;
        // Leave the main window's GDI mode and start the next case on a fresh display.
        SetStartupFlags(0);
        MainWindow().UseGDI(false);
        SetStartupFlags(tss ? kStartupTss : 0);
        if (tss)
          TssManager().Destroy();
        else
          DrawScreen().Shutdown();
      }
    }
  }
  SetStartupFlags(0);
  MainWindow().Destroy();
}

}  // namespace
