// DModule: a loaded module (shared object) with its functions and file name.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/win32.h"

// Load makes the object owner; copies share the handle and never own it; Release frees the
// module only when owner, Free always. GetProcAddress and GetFileName work on handle 0 (the
// running program) when nothing is loaded.
class DModule : public DObject {
 public:
  DModule() = default;
  // Over an existing module, not owner.
  explicit DModule(HMODULE module);
  DModule(const DModule& other);
  DModule& operator=(const DModule& other);
  ~DModule() override;

  // Loads by path (cut to 263 bytes; "/" becomes "\" outside double-byte characters); false
  // when a module is held or the load fails.
  virtual bool Load(const DString& path, DWORD flags);
  virtual void Release();
  virtual bool Free();
  // Frees the module and ends the calling thread (does not return) when one is held; with an
  // empty record clears it and gives true; false without a record.
  virtual bool FreeAndExitThread(DWORD exit_code);
  virtual FARPROC GetProcAddress(const DString& name);
  // The module's path (cp932); the program's own path for handle 0.
  virtual DStringBuffer GetFileName();
  virtual bool DisableThreadLibraryCalls();

  HMODULE GetHandle() const { return ref_ ? *ref_ : nullptr; }

 private:
  DRef<HMODULE> ref_;
  uint8_t owned_ = 0;
};
