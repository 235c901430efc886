// Tests of the plug-in loader in a program linked like orvane: the module search, the version
// check, binding the engine's exports by name, the listing of functions, the log lines, unloading;
// and what the program and a plug-in export.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "base/dlogstream.h"
#include "platform/host.h"
#include "shell/cpluginmanager.h"
#include "tests/support/scratch_dir.h"

namespace {

using orvane_test::ScratchDir;

std::string PluginFile(const std::string& target) {
  return std::string(ORVANE_BINARY_DIR) + "/bin/test_plugins/" + target + ".opi";
}

class Plugins : public ::testing::Test {
 protected:
  void SetUp() override {
    SYSTEMTIME now{};
    OpenDebugLogAt(DString(scratch_.Path("log").c_str()), now);
    orvane::host::ResetHeadless();
  }
  void TearDown() override { DDebugLogFile().Close(); }

  // Copies a built test plug-in into the scratch directory (or a subdirectory) under a name.
  std::string Install(const std::string& target, const std::string& name, const std::string& sub = "") {
    std::string dir = sub.empty() ? scratch_.Dir() : scratch_.Path(sub);
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(PluginFile(target), dir + "/" + name,
                               std::filesystem::copy_options::overwrite_existing);
    return dir;
  }
  // The log written since the test began, after its header.
  std::string Log() {
    std::string text = scratch_.Read("log");
    size_t header_end = text.find('\n');
    return header_end == std::string::npos ? text : text.substr(header_end + 1);
  }
  // The plug-ins' own trace lines.
  static std::vector<std::string> PluginTrace() {
    std::vector<std::string> out;
    for (const std::string& line : orvane::host::TakeTrace())
      if (line.rfind("plugin ", 0) == 0) out.push_back(line);
    return out;
  }

  ScratchDir scratch_{"orvane_plugins_"};
  CPluginManager manager_;
};

TEST_F(Plugins, TheSearchTakesThePlainNameThenOpiThenDll) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> files;  // target, file name
    bool opi_directory;
    const char* taken;
  };
  const Case cases[] = {
      {{{"plugin_core", "core"}, {"plugin_plain", "core.dll"}}, false, "plugin_core"},
      {{{"plugin_plain", "core.opi"}, {"plugin_core", "core.dll"}}, false, "plugin_plain"},
      {{{"plugin_plain", "core.dll"}}, true, "plugin_plain"},  // a directory named core.opi is skipped
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string sub = "case" + std::to_string(n++);
    for (const auto& [target, file] : c.files) Install(target, file, sub);
    if (c.opi_directory) std::filesystem::create_directories(scratch_.Path(sub + "/core.opi"));
    CPluginManager manager;
    ASSERT_TRUE(manager.Load(DString(scratch_.Path(sub).c_str()), DString("core")));
    std::vector<std::string> trace = PluginTrace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0], std::string("plugin ") + c.taken + " version");
    manager.UnloadAll();
    PluginTrace();
  }
  CPluginManager manager;
  EXPECT_FALSE(manager.Load(DString(scratch_.Dir().c_str()), DString("absent")));
  EXPECT_NE(Log().find("Plugin: can't find " + scratch_.Dir() + "/absent.dll.\r\n"), std::string::npos);
}

TEST_F(Plugins, APluginBindsTheEngineByNameAndCallsBack) {
  std::string dir = Install("plugin_core", "core.opi");
  orvane::host::PushMessageBoxAnswer(IDNO);
  ASSERT_TRUE(manager_.Load(DString(dir.c_str()), DString("core")));
  char program[4096];
  DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
  std::vector<std::string> trace = PluginTrace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], "plugin plugin_core version");
  EXPECT_EQ(trace[1], "plugin plugin_core loadsystem bound=4 isexit=1 message=1 window=none pathlength=" +
                          std::to_string(n));
  EXPECT_EQ(trace[2], "plugin plugin_core loadinit");
  EXPECT_EQ(manager_.GetFunctionCount(), 2u);
  DRef<CPluginFunction> f = manager_.FindFunction(DString("Start"));  // ASCII case ignored
  ASSERT_TRUE(f);
  EXPECT_STREQ(f->name.Text(), "start");
  EXPECT_TRUE(f->Call(41));
  EXPECT_FALSE(manager_.FindFunction(DString("SECOND"))->Call(0));
  EXPECT_FALSE(manager_.FindFunction(DString("star")));
  EXPECT_EQ(Log(), "");  // success writes nothing
}

TEST_F(Plugins, VersionsAboveTheLimitAndMissingExportsAreRefused) {
  std::string dir = Install("plugin_v257", "v257.opi");
  Install("plugin_v0", "v0.opi");
  Install("plugin_nounload", "nounload.opi");
  Install("plugin_failsys", "failsys.opi");
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("v257")));
  EXPECT_TRUE(manager_.Load(DString(dir.c_str()), DString("v0")));
  manager_.UnloadAll();
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("nounload")));
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("failsys")));
  EXPECT_EQ(manager_.GetModuleCount(), 0u);  // refused before the listing: nothing stays
  EXPECT_EQ(Log(), "Plugin: \"" + dir + "/v257.opirequired a upper version Orvane.\r\n" +
                       "Plugin: can't find \"ovUnloadSystem\" in " + dir + "/nounload.opi.\r\n" +
                       "Plugin: can't initialize \"" + dir + "/failsys.opi.\r\n");
}

TEST_F(Plugins, ADuplicateNameFailsTheLoadButTheModuleStays) {
  std::string dir = Install("plugin_core", "a.opi");
  Install("plugin_upper", "b.opi");
  ASSERT_TRUE(manager_.Load(DString(dir.c_str()), DString("a")));
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("b")));
  EXPECT_EQ(manager_.GetModuleCount(), 2u);
  EXPECT_EQ(Log(), "Plugin: START in " + dir + "/b.opiis already exist.\r\n");
  PluginTrace();
  // Unloading goes in load order: exit, then system, per module.
  manager_.UnloadAll();
  EXPECT_EQ(PluginTrace(),
            (std::vector<std::string>{"plugin plugin_core unloadexit", "plugin plugin_core unloadsystem",
                                      "plugin plugin_upper unloadsystem"}));
  EXPECT_EQ(manager_.GetModuleCount(), 0u);
}

TEST_F(Plugins, AnnouncedNamesAreTakenAtTheirLengthAndBounded) {
  std::string dir = Install("plugin_long", "long.opi");
  Install("plugin_liar", "liar.opi");
  // A 300-byte name is read whole (into a buffer of 301 bytes); it is not exported.
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("long")));
  EXPECT_NE(Log().find("Plugin: can't find \"" + std::string(300, 'q') + "\" in " + dir + "/long.opi.\r\n"),
            std::string::npos);
  // A name written without its NUL ends at the announced length; an absurd length is refused.
  EXPECT_FALSE(manager_.Load(DString(dir.c_str()), DString("liar")));
  EXPECT_TRUE(manager_.FindFunction(DString("start")));
  EXPECT_NE(Log().find("Plugin: function name too long in " + dir + "/liar.opi.\r\n"), std::string::npos);
}

TEST_F(Plugins, ARelativeDirectoryIsResolvedAgainstTheCurrentOne) {
  Install("plugin_plain", "rel.opi", "sub");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(scratch_.Dir().c_str()), 0);
  bool ok = manager_.Load(DString("sub"), DString("rel"));
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_TRUE(ok);
}

// ---- What the modules export.

std::vector<std::string> DefinedDynamicSymbols(const std::string& file) {
  std::vector<std::string> out;
  std::string command = "nm -D --defined-only '" + file + "'";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::istringstream in(line);
    std::string address, kind, name;
    in >> address >> kind >> name;
    if (name.empty()) name = kind;  // lines without an address
    if (!name.empty()) out.push_back(name);
  }
  pclose(p);
  return out;
}

// Symbols the linker and the runtimes put there: versioned library symbols, std:: instantiations,
// sanitizer entry points and the linker's own markers.
bool Foreign(const std::string& s) {
  static const char* kPrefixes[] = {
      "_ZNSt",   "_ZNKSt",      "_ZTISt", "_ZTSSt",        "_ZTVSt",          "_ZZNSt",          "_ZZNKSt",
      "_ZSt",    "_ZGVZNSt",    "_ZNSa",  "_ZN9__gnu_cxx", "_ZTIN9__gnu_cxx", "_ZTSN9__gnu_cxx", "__asan",
      "__ubsan", "__sanitizer", "__lsan", "__interceptor", "___interceptor"};
  static const std::set<std::string> kLinker = {"_edata",       "_end",       "__bss_start",
                                                "_init",        "_fini",      "_IO_stdin_used",
                                                "__data_start", "data_start", "__dso_handle"};
  if (s.find('@') != std::string::npos || kLinker.count(s)) return true;
  for (const char* p : kPrefixes)
    if (s.rfind(p, 0) == 0) return true;
  return false;
}

std::set<std::string> Split(const std::string& text) {
  std::set<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) out.insert(item);
  return out;
}

std::set<std::string> OwnSymbols(const std::string& file) {
  std::set<std::string> own;
  for (const std::string& s : DefinedDynamicSymbols(file))
    if (!Foreign(s)) own.insert(s);
  return own;
}

TEST(Exports, TheProgramExportsExactlyTheListedFunctions) {
  EXPECT_EQ(OwnSymbols(std::string(ORVANE_BINARY_DIR) + "/bin/orvane"), Split(ORVANE_EXPORT_NAMES));
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = 0;
  // GoogleTest's main (a library function of default visibility) also shows up here: not ours.
  std::set<std::string> own = OwnSymbols(self);
  own.erase("main");
  EXPECT_EQ(own, Split(ORVANE_EXPORT_NAMES));
}

TEST(Exports, APluginShowsOnlyItsEntryPoints) {
  EXPECT_EQ(OwnSymbols(PluginFile("plugin_core")), Split(PLUGIN_CORE_ENTRIES));
}

}  // namespace
