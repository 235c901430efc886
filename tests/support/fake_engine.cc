// The fake engine: slot functions generated from the export list, and the modelled exports.
#include "tests/support/fake_engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "base/dpath.h"
#include "base/dstring.h"

namespace orvane_test {

namespace {

FakeEngine* g_current = nullptr;

template <typename T>
T FailureValue() {
  if constexpr (!std::is_void_v<T>) return T{};
}

// The line rules of the engine's file objects: a line ends at "\n" or NUL (consumed), bytes below
// 0x20 other than TAB are dropped, a lead byte is taken with the byte after it, a line longer than
// 1023 bytes comes in pieces (a terminator right after a full piece ends it), a lone lead byte at
// the very end is dropped; with nothing left the read fails.
bool NextLine(const std::string& data, size_t& position, std::string& out) {
  out.clear();
  if (position >= data.size()) return false;
  const size_t n = data.size();
  while (position < n) {
    unsigned char c = static_cast<unsigned char>(data[position]);
    if (c == '\n' || c == '\0') {
      ++position;
      return true;
    }
    if (c < 0x20 && c != '\t') {
      ++position;
      continue;
    }
    size_t width = DIsLeadByte(c) ? 2 : 1;
    if (width == 2 && position + 1 >= n) {
      position = n;
      return true;
    }
    if (out.size() + width > 1023) {
      if (data[position] == '\n' || data[position] == '\0') ++position;
      return true;
    }
    out.append(data, position, width);
    position += width;
  }
  return true;
}

}  // namespace

// Slot functions of the exports that are not modelled: the call fails the test.
namespace unmodelled {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define OV_EXPORT(position, name, return_type, params) \
  return_type name params noexcept {                   \
    FakeEngine::Unmodelled(#name);                     \
    return FailureValue<return_type>();                \
  }
#include "api/export_list.h"
#undef OV_EXPORT
#pragma GCC diagnostic pop
}  // namespace unmodelled

// Slot functions of the modelled exports.
namespace modelled {

int32_t ovMessage(const char* text, const char* caption, int32_t flag) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->Message_(text, caption, flag) : 0;
}

int32_t ovIsExit() noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (fake) fake->Record("ovIsExit");
  return fake ? fake->IsExit() : 0;
}

ApiHandle* ovCreateFile(const char* path, int32_t mode) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->CreateFile(path, mode) : nullptr;
}

const char* ovReadFileLine(ApiHandle* file) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->ReadFileLine(file) : nullptr;
}

void ovDestroyFile(ApiHandle* file) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  if (!fake) return;
  fake->Record("ovDestroyFile");
  fake->Destroy(file, "file", "ovDestroyFile");
}

int32_t ovIsFileExist(const char* path) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->IsFileExist(path) : 0;
}

void ovMargePath(char* out, const char* directory, const char* name, const char* extension) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->Record("ovMargePath");
  DMargePath(out, DString(directory), DString(name), DString(extension));
}

}  // namespace modelled

FakeEngine::FakeEngine() : previous_(g_current) {
#define OV_EXPORT(position, name, return_type, params) exports_.name = &unmodelled::name;
#include "api/export_list.h"
#undef OV_EXPORT
  exports_.ovMessage = &modelled::ovMessage;
  exports_.ovIsExit = &modelled::ovIsExit;
  exports_.ovCreateFile = &modelled::ovCreateFile;
  exports_.ovReadFileLine = &modelled::ovReadFileLine;
  exports_.ovDestroyFile = &modelled::ovDestroyFile;
  exports_.ovIsFileExist = &modelled::ovIsFileExist;
  exports_.ovMargePath = &modelled::ovMargePath;
  g_current = this;
}

FakeEngine::~FakeEngine() {
  for (const auto& handle : handles_)
    if (handle->live) ADD_FAILURE() << "a " << handle->kind << " handle was never destroyed";
  g_current = previous_;
}

FakeEngine* FakeEngine::Current() {
  if (!g_current) ADD_FAILURE() << "an export was called without a fake engine";
  return g_current;
}

void* FakeEngine::Lookup(void*, const char* name) {
  FakeEngine* fake = Current();
  if (!fake) return nullptr;
#define OV_EXPORT(position, export_name, return_type, params) \
  if (std::strcmp(name, #export_name) == 0) return reinterpret_cast<void*>(fake->exports_.export_name);
#include "api/export_list.h"
#undef OV_EXPORT
  return nullptr;
}

void FakeEngine::Unmodelled(const char* name) {
  if (g_current) g_current->Record(name);
  ADD_FAILURE() << "the game called " << name << ", which the fake engine does not model";
}

int FakeEngine::OpenFileCount() const {
  int n = 0;
  for (const auto& handle : handles_) n += handle->live && handle->kind == "file";
  return n;
}

ApiHandle* FakeEngine::NewHandle(const std::string& kind) {
  handles_.push_back(std::make_unique<Handle>());
  handles_.back()->kind = kind;
  return reinterpret_cast<ApiHandle*>(handles_.back().get());
}

FakeEngine::Handle* FakeEngine::Check(ApiHandle* handle, const std::string& kind, const char* export_name) {
  for (const auto& h : handles_) {
    if (reinterpret_cast<ApiHandle*>(h.get()) != handle) continue;
    if (!h->live) {
      ADD_FAILURE() << export_name << " got a destroyed " << h->kind << " handle";
      return nullptr;
    }
    if (h->kind != kind) {
      ADD_FAILURE() << export_name << " got a " << h->kind << " handle where a " << kind << " handle belongs";
      return nullptr;
    }
    return h.get();
  }
  ADD_FAILURE() << export_name << " got a handle the engine never made";
  return nullptr;
}

void FakeEngine::Destroy(ApiHandle* handle, const std::string& kind, const char* export_name) {
  Handle* h = Check(handle, kind, export_name);
  if (!h) return;
  h->live = false;
  if (h->line) std::memset(h->line.get(), 0x7F, 1024);
  h->line.reset();
}

int32_t FakeEngine::Message_(const char* text, const char* caption, int32_t flag) {
  Record("ovMessage");
  messages_.push_back({text ? text : "", caption ? caption : "", flag});
  return message_answer_;
}

ApiHandle* FakeEngine::CreateFile(const char* path, int32_t mode) {
  Record("ovCreateFile");
  if (mode != 1) {
    ADD_FAILURE() << "ovCreateFile mode " << mode << " is not modelled";
    return nullptr;
  }
  if (!path || !files_.count(path)) return nullptr;
  ApiHandle* handle = NewHandle("file");
  reinterpret_cast<Handle*>(handle)->path = path;
  return handle;
}

const char* FakeEngine::ReadFileLine(ApiHandle* file) {
  Record("ovReadFileLine");
  Handle* h = Check(file, "file", "ovReadFileLine");
  if (!h) return nullptr;
  // The previous line's buffer is spoiled and freed: a pointer kept past this call is caught.
  if (h->line) std::memset(h->line.get(), 0x7F, 1024);
  h->line.reset();
  if (h->error) return nullptr;
  auto it = files_.find(h->path);
  std::string text;
  if (it == files_.end() || !NextLine(it->second, h->position, text)) {
    h->error = true;
    return nullptr;
  }
  h->line = std::make_unique<char[]>(1024);
  std::memcpy(h->line.get(), text.data(), text.size());
  h->line[text.size()] = '\0';
  return h->line.get();
}

int32_t FakeEngine::IsFileExist(const char* path) const {
  const_cast<FakeEngine*>(this)->Record("ovIsFileExist");
  return path && files_.count(path) ? 1 : 0;
}

}  // namespace orvane_test
