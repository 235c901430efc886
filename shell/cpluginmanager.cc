// The plug-in loader and registry.
#include "shell/cpluginmanager.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/dlogstream.h"
#include "base/dpath.h"
#include "platform/hostpath.h"
#include "platform/win32.h"

namespace {

using GetVersionProc = uint32_t (*)();
using LoadSystemProc = int32_t (*)(const char*);
using VoidProc = void (*)();
using LoadInitProc = int32_t (*)();
using GetFunctionProc = uint32_t (*)(char*, uint32_t, uint32_t);

void Log(const std::string& line) {
  DDebugLog().Write(DString(line.c_str()));
}

std::string Missing(const char* export_name, const std::string& path) {
  return std::string("Plugin: can't find \"") + export_name + "\" in " + path + ".\n";
}

// The engine program's own path, whole (not cut to the 263 characters of a Windows path).
std::string EnginePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size() - 1 || buffer.size() >= (1u << 20)) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

// A directory made absolute against the current directory: a bare module name would make the
// host's loader search its library path instead of the script's directory.
std::string AbsoluteDirectory(const DString& directory) {
  std::string dir = directory.Text();
  if (!dir.empty() && (dir[0] == '/' || dir[0] == '\\')) return dir;
  std::vector<char> cwd(4096);
  std::string engine_cwd;
  if (!getcwd(cwd.data(), cwd.size()) || !orvane::EnginePathFromHost(cwd.data(), &engine_cwd)) return dir;
  if (dir.empty()) return engine_cwd;
  return engine_cwd + "/" + dir;
}

template <class F>
F Proc(DModule& module, const char* name) {
  return reinterpret_cast<F>(module.GetProcAddress(DString(name)));
}

}  // namespace

CPluginManager& PluginManager() {
  static CPluginManager* manager = new CPluginManager;
  return *manager;
}

bool CPluginManager::Load(const DString& directory, const DString& name) {
  const std::string dir = AbsoluteDirectory(directory);
  char path[264] = {};
  bool found = false;
  for (const char* extension : {"", "opi", "dll"}) {
    DMargePath(path, DString(dir.c_str()), name, DString(extension));
    if (DIsFile(DString(path))) {
      found = true;
      break;
    }
  }
  const std::string p = path;
  DRef<DModule> module;
  module.Alloc(1);
  if (!found || !module->Load(DString(path), 0)) {
    Log("Plugin: can't find " + p + ".\n");
    return false;
  }
  auto get_version = Proc<GetVersionProc>(*module, "ovGetVersion");
  if (!get_version) {
    Log(Missing("ovGetVersion", p));
    return false;
  }
  if (get_version() > kPluginMaxVersion) {
    Log("Plugin: \"" + p + "required a upper version Orvane.\n");
    return false;
  }
  auto load_system = Proc<LoadSystemProc>(*module, "ovLoadSystem");
  if (!load_system) {
    Log(Missing("ovLoadSystem", p));
    return false;
  }
  const std::string engine = EnginePath();
  if (load_system(engine.c_str()) == 0) {
    Log("Plugin: can't initialize \"" + p + ".\n");
    return false;
  }
  if (!Proc<VoidProc>(*module, "ovUnloadSystem")) {
    Log(Missing("ovUnloadSystem", p));
    return false;
  }
  if (auto load_init = Proc<LoadInitProc>(*module, "ovLoadInit")) {
    if (load_init() == 0) {
      Log("Plugin: can't initialize \"" + p + ".\n");
      return false;
    }
  }
  auto get_function = Proc<GetFunctionProc>(*module, "ovGetFunction");
  if (!get_function) {
    Log(Missing("ovGetFunction", p));
    return false;
  }
  modules_.PushBack(module);

  // From here the module stays, whatever the listing finds.
  std::vector<char> buffer;
  for (uint32_t i = 0;; ++i) {
    const uint32_t length = get_function(nullptr, 0, i);
    if (length == 0) return true;
    if (length > kPluginMaxNameLength) {
      Log("Plugin: function name too long in " + p + ".\n");
      return false;
    }
    if (buffer.size() < length + 1) buffer.assign(length + 1 < 256 ? 256 : length + 1, 0);
    if (get_function(buffer.data(), static_cast<uint32_t>(buffer.size()), i) == 0) return true;
    // The name is the announced length: a plug-in that wrote no NUL (or a longer text) does not
    // make the engine read past it.
    std::string fn(buffer.data(), strnlen(buffer.data(), length));
    DString fn_ref(fn.c_str());
    if (FindFunction(fn_ref)) {
      Log("Plugin: " + fn + " in " + p + "is already exist.\n");
      return false;
    }
    auto proc = Proc<PluginProc>(*module, fn.c_str());
    if (!proc) {
      Log(Missing(fn.c_str(), p));
      return false;
    }
    DRef<CPluginFunction> function;
    function.Alloc(1);
    function->name.Alloc(static_cast<uint32_t>(fn.size() + 1));
    std::memcpy(function->name.Get(), fn.c_str(), fn.size() + 1);
    function->proc = proc;
    functions_.PushBack(function);
  }
}

DRef<CPluginFunction> CPluginManager::FindFunction(const DString& name) {
  const uint32_t length = name.Length();
  for (auto it = functions_.Begin(); !(it == functions_.End()); it = it.Next()) {
    DRef<CPluginFunction> f = it.Value();
    if (f->name.Length() == length && DString::CompareNoCaseN(f->name, name, length) == 0) return f;
  }
  return DRef<CPluginFunction>();
}

bool CPluginManager::UnloadAll() {
  functions_.Clear();
  for (auto it = modules_.Begin(); !(it == modules_.End()); it = it.Next()) {
    DRef<DModule> module = it.Value();
    if (auto unload_exit = Proc<VoidProc>(*module, "ovUnloadExit")) unload_exit();
    if (auto unload_system = Proc<VoidProc>(*module, "ovUnloadSystem")) unload_system();
  }
  modules_.Clear();
  return true;
}
