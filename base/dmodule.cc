// DModule: loading modules, their functions and their file names.
#include "base/dmodule.h"

#include <cstring>
#include <string>

#include "base/dpath.h"
#include "platform/hostpath.h"

DModule::DModule(HMODULE module) {
  ref_.Alloc(1);
  *ref_ = module;
}

DModule::DModule(const DModule& other) : DObject(other), ref_(other.ref_) {}

DModule& DModule::operator=(const DModule& other) {
  if (this == &other) return *this;  // releasing first would free what is kept
  Release();
  ref_ = other.ref_;
  owned_ = 0;
  return *this;
}

DModule::~DModule() {
  DModule::Release();
}

bool DModule::Load(const DString& path, DWORD flags) {
  if (ref_ && *ref_) return false;
  char buffer[264];
  DCopyYenPath(buffer, path);
  HMODULE module = LoadLibraryExA(buffer, nullptr, flags);
  if (!module) return false;
  ref_.Alloc(1);
  *ref_ = module;
  owned_ = 1;
  return true;
}

void DModule::Release() {
  if (owned_) Free();
  ref_.Release();
  owned_ = 0;
}

bool DModule::Free() {
  if (!ref_) return false;
  bool ok = *ref_ ? FreeLibrary(*ref_) != FALSE : false;
  *ref_ = nullptr;
  ref_.Release();
  owned_ = 0;
  return ok;
}

bool DModule::FreeAndExitThread(DWORD exit_code) {
  if (!ref_) return false;
  if (*ref_) {
    HMODULE module = *ref_;
    *ref_ = nullptr;
    ref_.Release();
    owned_ = 0;
    FreeLibraryAndExitThread(module, exit_code);
  }
  ref_.Release();
  owned_ = 0;
  return true;
}

FARPROC DModule::GetProcAddress(const DString& name) {
  return ::GetProcAddress(GetHandle(), name.Text());
}

DStringBuffer DModule::GetFileName() {
  char host[4096];
  DWORD n = OrvaneGetModuleHostPath(GetHandle(), host, sizeof(host));
  std::string engine;
  if (n == 0 || !orvane::EnginePathFromHost(std::string(host, n), &engine)) return DStringBuffer();
  return DStringBuffer(engine.c_str());
}

bool DModule::DisableThreadLibraryCalls() {
  return ::DisableThreadLibraryCalls(GetHandle()) != FALSE;
}
