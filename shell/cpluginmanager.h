// CPluginManager: the registry of loaded plug-in modules and the script-callable functions they
// announced, and the loader that speaks the plug-in protocol.
#pragma once

#include <cstdint>

#include "base/dmodule.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "base/dstring.h"

// A plug-in's script-callable function: one int in, one int out.
using PluginProc = int32_t (*)(int32_t);

struct CPluginFunction {
  DString name;  // the engine's own copy of the announced name
  PluginProc proc = nullptr;

  // proc(argument) is nonzero.
  bool Call(int32_t argument) const { return proc(argument) != 0; }
};

// The protocol's version limit and the longest function name the engine accepts.
inline constexpr uint32_t kPluginMaxVersion = 0x100;
inline constexpr uint32_t kPluginMaxNameLength = 4096;

class CPluginManager {
 public:
  CPluginManager() = default;
  CPluginManager(const CPluginManager&) = delete;
  CPluginManager& operator=(const CPluginManager&) = delete;
  ~CPluginManager() { UnloadAll(); }

  // Finds the module (name, name.opi, name.dll in the directory; regular files only), loads it,
  // checks its version, hands it the engine's path, lets it initialise and registers every
  // function it announces. Failures write one line to the debug log and give false; from the
  // listing on, a failing module stays loaded with the functions registered so far.
  bool Load(const DString& directory, const DString& name);
  // The first function with that name (ASCII case ignored; double-byte characters exact).
  DRef<CPluginFunction> FindFunction(const DString& name);
  // Empties the functions, then unloads every module in load order (ovUnloadExit, then
  // ovUnloadSystem, each when present); true.
  bool UnloadAll();

  uint32_t GetModuleCount() const { return modules_.GetCount(); }
  uint32_t GetFunctionCount() const { return functions_.GetCount(); }

 private:
  DRefList<DModule> modules_;
  DRefList<CPluginFunction> functions_;
};

// The engine's plug-in registry.
CPluginManager& PluginManager();
