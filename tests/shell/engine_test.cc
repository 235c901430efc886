// Tests of start-up and shutdown over the unit table, the script image's choice, the engine main
// and the single-instance guard.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "display/text/text_unit.h"
#include "display/tss/dtss_manager.h"
#include "shell/cpluginmanager.h"
#include "shell_fixture.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "vm/startup_config.h"

extern char** environ;

namespace {

using namespace shell_test;
using orvane_test::ScratchDir;

std::string LogPath() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = 0;
  return std::string(exe) + ".log";
}

// The debug log's unit lines, in order.
std::vector<std::string> UnitLines() {
  std::ifstream in(LogPath(), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> out;
  size_t pos = 0;
  while ((pos = text.find("[Orvane] initialized ", pos)) != std::string::npos) {
    size_t end = text.find(" unit.", pos);
    out.push_back(text.substr(pos + 21, end - pos - 21));
    pos = end;
  }
  return out;
}

std::string Image(const std::string& config) {
  std::string text = ".globals 1\n.method main\n OpSetInt g0, 0\n OpHalt\n";
  if (!config.empty()) text += ".method startupconfig\n OpSetString g0, \"" + config + "\"\n OpHalt\n";
  auto bytes = meiasm::Assemble(text);
  return std::string(bytes.begin(), bytes.end());
}

class Engine : public ShellTest {
 protected:
  void UseImage(const std::string& config) {
    scratch_.Write("game.mei", Image(config));
    AddArgument(scratch_.Path("game.mei"));
  }
  ScratchDir scratch_{"orvane_engine_"};
};

TEST_F(Engine, UnitsStartInOrderWithTheirLogLinesInBothDisplayVariants) {
  struct Case {
    const char* config;
    const char* display;
  };
  for (const Case c : {Case{"", "Draw"}, Case{"tss sound3d", "TSS"}}) {
    SCOPED_TRACE(c.config);
    EngineUnits() = FakeTable(true);
    app_.GetArguments().Clear();
    UseImage(c.config);
    ASSERT_TRUE(InitUnits());
    EXPECT_EQ(ScriptImage().size(), Image(c.config).size());
    EXPECT_EQ(std::string(ScriptPath()), scratch_.Path("game.mei"));
    EXPECT_NE(MainWindow().GetHandle(), nullptr);
    Calls().clear();
    ShutdownUnits();
    const std::vector<std::string> expected = {"Window", c.display, "Midi",  "Time", "Input",
                                               "Text",   "Sound",   "Movie", "File", "Net",
                                               "Event",  "Plugin",  "VM"};
    EXPECT_EQ(UnitLines(), expected);
    // Shutdown: the reverse order, the other display variant untouched.
    const std::vector<std::string> stops = {"stop Event", "stop Net",   "stop File",
                                            "stop Movie", "stop Sound", "stop Text",
                                            "stop Input", "stop Midi",  std::string("stop ") + c.display};
    EXPECT_EQ(Calls(), stops);
    EXPECT_EQ(MainWindow().GetHandle(), nullptr);
    EXPECT_TRUE(ScriptImage().empty());
  }
}

TEST_F(Engine, AFailingStopUnitEndsStartUpAndIgnoredOnesDoNot) {
  EngineUnits() = FakeTable(false);
  UseImage("");
  StartResults() = {{"Midi", false}, {"Sound", false}};
  ASSERT_TRUE(InitUnits());  // Midi and Sound failures are ignored, their lines still written
  ShutdownUnits();
  EXPECT_EQ(UnitLines().size(), 13u);

  StartResults() = {{"Input", false}};
  Calls().clear();
  EXPECT_FALSE(InitUnits());
  ShutdownUnits();
  // Start-up ends at Input (whose line is not written); shutdown still stops every unit.
  EXPECT_EQ(UnitLines(), (std::vector<std::string>{"Window", "Draw", "Midi", "Time"}));
  std::vector<std::string> starts;
  for (const auto& c : Calls())
    if (c.rfind("start ", 0) == 0) starts.push_back(c);
  EXPECT_EQ(starts, (std::vector<std::string>{"start Window", "start Draw", "start Midi", "start Input"}));
  EXPECT_EQ(Calls().back(), "stop Window");
  EXPECT_EQ(std::count(Calls().begin(), Calls().end(), "stop Event"), 1);
}

TEST_F(Engine, AMissingImageShowsTwoBoxesAndEndsWithZero) {
  EngineUnits() = FakeTable(false);
  AddArgument(scratch_.Path("missing.mei"));
  EXPECT_EQ(EngineMain(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Orvane|実行ファイルを開けません|16",
                                               "Orvane|起動できませんでした。|16"}));
  EXPECT_TRUE(Calls().empty() || Calls().front().rfind("stop ", 0) == 0);  // nothing started

  // Without an argument the file dialog is offered; a cancel gives the same two boxes.
  app_.GetArguments().Clear();
  EXPECT_EQ(EngineMain(), 0);
  EXPECT_EQ(Boxes().size(), 2u);
}

TEST_F(Engine, AnImageWithoutMainIsReportedThroughTheWindowAndShutdownFollows) {
  EngineUnits() = FakeTable(true);
  auto bytes = meiasm::Assemble(".globals 1\n.method other\n OpHalt\n");
  scratch_.Write("nomain.mei", std::string(bytes.begin(), bytes.end()));
  AddArgument(scratch_.Path("nomain.mei"));
  EXPECT_EQ(EngineMain(), 0);
  std::vector<std::string> boxes = Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), "Error|実行ファイルを開けません|0");
  EXPECT_EQ(MainWindow().GetHandle(), nullptr);
}

TEST_F(Engine, TooLargeImageFilesAreUnreadable) {
  EngineUnits() = FakeTable(false);
  // A sparse file that reports more than the cap: nothing is allocated for it.
  std::string path = scratch_.Path("huge.mei");
  {
    std::ofstream f(path, std::ios::binary);
    f << Image("");
  }
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kMaxScriptImageFileSize) + 1), 0);
  AddArgument(path);
  EXPECT_FALSE(LoadScriptImageFile());
  EXPECT_TRUE(ScriptImage().empty());
}

TEST_F(Engine, RandomGeneratorIsTheLinearCongruence) {
  SeedRandom(1);
  EXPECT_EQ(NextRandom(), 41);
  EXPECT_EQ(NextRandom(), 18467);
  EXPECT_EQ(NextRandom(), 6334);
  SeedRandom(0);
  EXPECT_EQ(NextRandom(), 38);
}

// ---- Single instance.

TEST_F(Engine, SingleInstanceChecksInOneProcess) {
  ASSERT_TRUE(MainWindow().Create());
  MainWindow().SetText(DString("caption"));
  Boxes();
  std::string name = "test" + std::to_string(getpid());
  EXPECT_TRUE(CheckSingleInstance(name.c_str()));
  EXPECT_TRUE(CheckSingleInstance(name.c_str()));  // the first handle is closed before
  EXPECT_NE(SingleInstanceHandle(), nullptr);
  // Another handle of this process holds the name now.
  HANDLE other = CreateMutexA(nullptr, FALSE, ("KAVELON_Orvane_" + name).c_str());
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(other);
  void* before = SingleInstanceHandle();
  EXPECT_FALSE(CheckSingleInstance(""));
  EXPECT_EQ(SingleInstanceHandle(), nullptr);
  (void)before;
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         "caption|名前が指定されていません。\nプログラム作成者に報告してください。|48"}));
  ShutdownUnits();
}

// The child side of the two-process test: claims the name given in the environment.
TEST_F(Engine, ChildClaim) {
  const char* name = std::getenv("ORVANE_TEST_CLAIM");
  if (!name) GTEST_SKIP() << "run by SingleInstanceAcrossProcesses";
  bool ok = CheckSingleInstance(name);
  std::vector<std::string> boxes = Boxes();
  std::_Exit(ok ? 10 : (boxes.size() == 1 && boxes[0] == "|プログラムはすでに起動されています|48" ? 20 : 30));
}

int RunChild(const std::string& name) {
  std::string env = "ORVANE_TEST_CLAIM=" + name;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(env.data());
  envp.push_back(nullptr);
  std::string filter = "--gtest_filter=Engine.ChildClaim";
  char exe[] = "/proc/self/exe";
  char* argv[] = {exe, filter.data(), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Engine, SingleInstanceAcrossProcesses) {
  std::string name = "cross" + std::to_string(getpid());
  EXPECT_EQ(RunChild(name), 10);  // free: the child claims it
  ASSERT_TRUE(CheckSingleInstance(name.c_str()));
  EXPECT_EQ(RunChild(name), 20);  // held here: the child is told another copy runs
  // A child process started while the name is held does not inherit the claim.
  pid_t sleeper;
  char sh[] = "/bin/sleep";
  char two[] = "2";
  char* argv[] = {sh, two, nullptr};
  ASSERT_EQ(posix_spawn(&sleeper, sh, nullptr, nullptr, argv, environ), 0);
  ShutdownUnits();  // closes the handle
  EXPECT_EQ(RunChild(name), 10);
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
}

TEST_F(Engine, TheTssRowStartsOnTheMainWindowAndBracketsGdiMode) {
  ASSERT_TRUE(MainWindow().Create());
  std::vector<EngineUnit> units = DefaultEngineUnits();
  auto row = std::find_if(units.begin(), units.end(),
                          [](const EngineUnit& u) { return std::strcmp(u.name, "TSS") == 0; });
  ASSERT_NE(row, units.end());
  ASSERT_TRUE(row->start && row->stop && row->use_gdi);
  ASSERT_TRUE(row->start());
  EXPECT_TRUE(TssManager().IsCreated());
  EXPECT_EQ(TssManager().GetFlags() & kDtssPoint, kDtssPoint);
  EXPECT_FALSE(row->start());  // already running
  row->use_gdi(true);
  EXPECT_EQ(TssManager().GetGdiCount(), 1);
  row->use_gdi(false);
  EXPECT_EQ(TssManager().GetGdiCount(), 0);
  row->stop();
  EXPECT_FALSE(TssManager().IsCreated());
  row->stop();  // harmless when stopped
}

TEST_F(Engine, TheTextRowMakesAndDeletesTheCanvas) {
  std::vector<EngineUnit> units = DefaultEngineUnits();
  auto row = std::find_if(units.begin(), units.end(),
                          [](const EngineUnit& u) { return std::strcmp(u.name, "Text") == 0; });
  ASSERT_NE(row, units.end());
  ASSERT_TRUE(row->start && row->stop);
  ASSERT_TRUE(row->start());
  ASSERT_NE(TextCanvas(), nullptr);
  EXPECT_NE(TextCanvas()->GetDC().GetHandle(), nullptr);
  row->stop();
  EXPECT_EQ(TextCanvas(), nullptr);
  row->stop();  // harmless when stopped
}

}  // namespace
