// Tests of DApplication: start-up, the four settings modes and their stores, the program entry.
#include "base/dapplication.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class DApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orvane_dapp_XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string dir_;
};

TEST_F(DApplicationTest, StartupNamesTheProgramAndRegistersTwice) {
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, "one \"two three\""));
  EXPECT_EQ(app.GetApplicationName(), "base_dapplication_test");
  std::string dir = app.GetDirectory().GetText();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(access((dir + "base_dapplication_test").c_str(), X_OK), 0);
  EXPECT_EQ(app.GetCompanyName(), "Amber Quill");
  EXPECT_EQ(app.GetSettingsMode(), 2u);
  EXPECT_GE(app.GetWheelMessage(), 0xC000u);
  EXPECT_EQ(app.GetArguments().GetCount(), 2u);
  EXPECT_STREQ(app.GetArguments().Last().Value().Get(), "two three");
  WNDCLASSEXA wc;
  EXPECT_TRUE(GetClassInfoExA(nullptr, "AQC Basic Window Class", &wc));
  EXPECT_TRUE(GetClassInfoExA(nullptr, "AQC Splitter Window Class", &wc));
  DApplication again;
  EXPECT_TRUE(again.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));  // classes exist: fine
}

TEST_F(DApplicationTest, EachModeStoresWhereItShould) {
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  app.SetDirectory((dir_ + "/").c_str());
  app.SetApplicationName("demo");
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof(windows)), 0u);
  struct Case {
    uint32_t mode;
    std::string file;  // the .ini file, or empty for the registry
    HKEY root;
  } cases[] = {{2, dir_ + "/demo.ini", nullptr},
               {3, std::string(windows) + "/demo.ini", nullptr},
               {0, "", HKEY_CURRENT_USER},
               {1, "", HKEY_LOCAL_MACHINE},
               {7, "", HKEY_CURRENT_USER}};  // an unknown mode is mode 0
  for (const Case& c : cases) {
    app.SetSettingsMode(c.mode);
    std::string value = "v" + std::to_string(c.mode);
    ASSERT_TRUE(app.SetSettingString("Sec", "Name", value.c_str())) << c.mode;
    ASSERT_TRUE(app.SetSettingInt("Sec", "Count", static_cast<int>(c.mode) + 40)) << c.mode;
    EXPECT_EQ(app.GetSettingString("Sec", "Name", "d"), value.c_str()) << c.mode;
    EXPECT_EQ(app.GetSettingInt("Sec", "Count", -1), static_cast<int>(c.mode) + 40) << c.mode;
    if (!c.file.empty()) {
      EXPECT_NE(ReadFile(c.file).find("[Sec]\r\nName=" + value + "\r\n"), std::string::npos) << c.mode;
    } else {
      HKEY key;
      ASSERT_EQ(RegOpenKeyExA(c.root, "Software\\Amber Quill\\demo\\Sec", 0, KEY_READ, &key), 0) << c.mode;
      DWORD type = 0, size = 0;
      EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, &type, nullptr, &size), 0);
      EXPECT_EQ(type, REG_DWORD);
      RegCloseKey(key);
    }
  }
}

TEST_F(DApplicationTest, ReadsGiveTheDefaultOnMismatches) {
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  app.SetDirectory((dir_ + "/").c_str());
  app.SetApplicationName("demo");
  app.SetSettingsMode(0);
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Amber Quill\\demo\\S", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            0);
  RegSetValueExA(key, "text", 0, REG_SZ, reinterpret_cast<const BYTE*>("12"), 3);
  RegSetValueExA(key, "zero", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0);
  RegSetValueExA(key, "empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
  RegCloseKey(key);
  EXPECT_EQ(app.GetSettingInt("S", "text", 5), 5);
  EXPECT_EQ(app.GetSettingString("S", "zero", "dflt"), "dflt");
  EXPECT_EQ(app.GetSettingString("S", "empty", "dflt"), "");
  EXPECT_EQ(app.GetSettingString("S", "missing", "dflt"), "dflt");

  app.SetSettingsMode(2);
  ASSERT_TRUE(app.SetSettingString("S", "mixed", "12abc"));
  EXPECT_EQ(app.GetSettingInt("S", "mixed", 5), 12);
  EXPECT_EQ(app.GetSettingInt("S", "missing", 5), 5);
  EXPECT_EQ(app.GetSettingInt("", "mixed", 5), 5);  // an empty section fails every operation
  EXPECT_FALSE(app.SetSettingInt("", "mixed", 1));
}

TEST_F(DApplicationTest, ProcessPointerIsClearedWithTheObject) {
  {
    DApplication app;
    DSetApplication(&app);
    EXPECT_EQ(DGetApplication(), &app);
  }
  EXPECT_EQ(DGetApplication(), nullptr);
}

std::vector<std::string> g_steps;
std::vector<std::string> g_args;

TEST_F(DApplicationTest, ProgramEntryRunsItsStepsInOrder) {
  g_steps.clear();
  g_args.clear();
  DProgramHooks hooks{};
  hooks.init_tables = [] { g_steps.push_back("tables"); };
  hooks.plugins_init = [] { g_steps.push_back("plugins"); };
  hooks.plugins_term = [] { g_steps.push_back("term"); };
  hooks.engine_main = [] {
    g_steps.push_back(DGetApplication() ? "main with app" : "main without app");
    DRefList<char>& args = DGetApplication()->GetArguments();
    for (auto it = args.Begin(); !(it == args.End()); it = it.Next()) g_args.push_back(it.Value().Get());
    return 9;
  };
  char prog[] = "prog", a1[] = "\xE8\xA1\xA8\xE7\xA4\xBA.mei", a2[] = "x y", a3[] = "\xF0\x9F\x98\x80";
  char* argv[] = {prog, a1, a2, a3};
  EXPECT_EQ(DProgramMain(4, argv, hooks), 9);
  EXPECT_EQ(g_steps, (std::vector<std::string>{"tables", "plugins", "main with app", "term"}));
  ASSERT_EQ(g_args.size(), 3u);
  EXPECT_EQ(g_args[0], "\x95\x5C\x8E\xA6.mei");  // converted to cp932
  EXPECT_EQ(g_args[1], "x y");                   // not split again
  // cp932 lacks it: the host-path rule's form, which names the same host bytes.
  EXPECT_EQ(g_args[2], "\xF0\xB1\xF0\x5F\xF0\x58\xF0\x40");
  EXPECT_EQ(DGetApplication(), nullptr);

  g_args.clear();
  EXPECT_EQ(DMain(hooks), 9);  // the process's own command line, its path first
  ASSERT_FALSE(g_args.empty());
  EXPECT_NE(g_args[0].find("base_dapplication_test"), std::string::npos);
}

}  // namespace
