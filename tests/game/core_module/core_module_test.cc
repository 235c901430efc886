// core.opi loaded as the engine loads it: its dynamic symbols, binding the engine by path from a
// program that exports the API, a stand-in engine that lacks one export, and start.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "api/ov_api.h"
#include "platform/kernel.h"
#include "platform/module.h"

extern std::vector<std::string> g_unexpected_engine_calls;

namespace {

std::vector<std::string> g_file_tests;

}  // namespace

// The exports start may use, as this program's engine.
extern "C" int32_t ovIsFileExist(const char* path) noexcept {
  g_file_tests.push_back(path);
  return 0;
}

namespace {

struct Core {
  HMODULE module = nullptr;
  uint32_t (*ovGetVersion)() = nullptr;
  int32_t (*ovLoadSystem)(const char*) = nullptr;
  int32_t (*ovLoadInit)() = nullptr;
  uint32_t (*ovGetFunction)(char*, uint32_t, uint32_t) = nullptr;
  void (*ovUnloadSystem)() = nullptr;
  void (*ovUnloadExit)() = nullptr;
  int32_t (*start)(int32_t) = nullptr;
};

template <class F>
void Get(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(GetProcAddress(module, name));
  ASSERT_NE(out, nullptr) << name;
}

// True while the shared object at path is loaded in this process.
bool Loaded(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (!h) return false;
  dlclose(h);
  return true;
}

std::string OwnPath() {
  char path[264] = {};
  GetModuleFileNameA(nullptr, path, sizeof(path));
  return path;
}

TEST(CoreModule, ExportsExactlyTheSevenEntryPoints) {
  FILE* pipe = popen("nm -D --defined-only " CORE_OPI_PATH, "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe)) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"ovGetVersion", "ovLoadSystem", "ovLoadInit", "ovGetFunction",
                                          "ovUnloadSystem", "ovUnloadExit", "start"}));
}

TEST(CoreModule, BindsTheEngineByPath) {
  Core core;
  core.module = LoadLibraryA(CORE_OPI_PATH);
  ASSERT_NE(core.module, nullptr);
  Get(core.module, "ovGetVersion", core.ovGetVersion);
  Get(core.module, "ovLoadSystem", core.ovLoadSystem);
  Get(core.module, "ovLoadInit", core.ovLoadInit);
  Get(core.module, "ovGetFunction", core.ovGetFunction);
  Get(core.module, "ovUnloadSystem", core.ovUnloadSystem);
  Get(core.module, "ovUnloadExit", core.ovUnloadExit);
  Get(core.module, "start", core.start);
  EXPECT_EQ(core.ovGetVersion(), 256u);

  // A path that cannot be loaded leaves the engine handle empty.
  EXPECT_EQ(core.ovLoadSystem("/nonexistent/engine"), 0);

  // An engine without ovSendNetString: the binding fails with the module loaded; it stays so until
  // the unload, and start does nothing meanwhile.
  ASSERT_FALSE(Loaded(PARTIAL_ENGINE_PATH));
  EXPECT_EQ(core.ovLoadSystem(PARTIAL_ENGINE_PATH), 0);
  EXPECT_TRUE(Loaded(PARTIAL_ENGINE_PATH));
  EXPECT_EQ(core.ovLoadSystem(OwnPath().c_str()), 0);
  EXPECT_EQ(core.start(0), 1);
  EXPECT_TRUE(g_file_tests.empty());
  core.ovUnloadSystem();
  EXPECT_FALSE(Loaded(PARTIAL_ENGINE_PATH));

  // This program as the engine: every name binds, and start's calls reach this program's exports.
  EXPECT_EQ(core.ovLoadSystem(OwnPath().c_str()), 1);
  EXPECT_EQ(core.ovLoadSystem(OwnPath().c_str()), 0);
  EXPECT_EQ(core.ovLoadInit(), 1);
  char name[256];
  EXPECT_EQ(core.ovGetFunction(nullptr, 0, 0), 5u);
  EXPECT_EQ(core.ovGetFunction(name, sizeof(name), 0), 5u);
  EXPECT_STREQ(name, "start");
  EXPECT_EQ(core.ovGetFunction(name, sizeof(name), 1), 0u);
  EXPECT_EQ(core.start(0), 1);
  EXPECT_EQ(g_file_tests, (std::vector<std::string>{"derora.dat"}));
  // The game goes on into its start-up, on the stand-in exports of this program.
  ASSERT_FALSE(g_unexpected_engine_calls.empty());
  EXPECT_EQ(g_unexpected_engine_calls[0], "ovSetTitle");
  core.ovUnloadExit();
  core.ovUnloadSystem();
  EXPECT_EQ(core.start(0), 1);
  EXPECT_EQ(g_file_tests.size(), 1u);
  // core.opi stays loaded, as plug-ins do until the engine ends: its own debug log lives as long.
}

}  // namespace
