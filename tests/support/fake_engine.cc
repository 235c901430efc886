// The fake engine: slot functions generated from the export list, and the modelled exports.
#include "tests/support/fake_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "base/dpath.h"
#include "base/dstring.h"
#include "platform/mmsystem.h"

namespace orvane_test {

namespace {

FakeEngine* g_current = nullptr;

constexpr size_t kMouseQueueSize = 64;
constexpr size_t kKeyBatchSize = 32;
constexpr int32_t kMouseMove = 3;
constexpr int32_t kMouseCaptureCancelled = 7;

// Signed distance from now to a time of the 32-bit clock.
int32_t Until(DWORD time, DWORD now) {
  return static_cast<int32_t>(time - now);
}

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

int32_t ovWaitEvent(int32_t ms) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->WaitEvent(ms) : 0;
}

void ovClearEvent() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearEvent();
}

void ovWaitKeyEvent(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->WaitKeyEvent(flag);
}

void ovWaitMouseEvent(int32_t flag) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->WaitMouseEvent(flag);
}

int32_t ovGetKeyState(int32_t key) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetKeyState(key) : 0;
}

int32_t ovGetKeyEvent(int32_t* key, int32_t* state) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetKeyEvent(key, state) : 0;
}

void ovClearKey() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearKey();
}

int32_t ovGetMouse(int32_t* kind, int32_t* x, int32_t* y) noexcept {
  FakeEngine* fake = FakeEngine::Current();
  return fake ? fake->GetMouse(kind, x, y) : 0;
}

void ovClearMouse() noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->ClearMouse();
}

void ovGetMousePos(int32_t* x, int32_t* y) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->GetMousePos(x, y);
}

void ovSetMousePos(int32_t x, int32_t y) noexcept {
  if (FakeEngine* fake = FakeEngine::Current()) fake->SetMousePos(x, y);
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
  exports_.ovWaitEvent = &modelled::ovWaitEvent;
  exports_.ovClearEvent = &modelled::ovClearEvent;
  exports_.ovWaitKeyEvent = &modelled::ovWaitKeyEvent;
  exports_.ovWaitMouseEvent = &modelled::ovWaitMouseEvent;
  exports_.ovGetKeyState = &modelled::ovGetKeyState;
  exports_.ovGetKeyEvent = &modelled::ovGetKeyEvent;
  exports_.ovClearKey = &modelled::ovClearKey;
  exports_.ovGetMouse = &modelled::ovGetMouse;
  exports_.ovClearMouse = &modelled::ovClearMouse;
  exports_.ovGetMousePos = &modelled::ovGetMousePos;
  exports_.ovSetMousePos = &modelled::ovSetMousePos;
  g_current = this;
  orvane::clock::UseVirtualClock(kClockStart);
}

FakeEngine::~FakeEngine() {
  for (const auto& handle : handles_)
    if (handle->live) ADD_FAILURE() << "a " << handle->kind << " handle was never destroyed";
  g_current = previous_;
  if (!previous_) orvane::clock::UseRealClock();
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

void FakeEngine::SetExitAt(DWORD time) {
  exit_at_set_ = true;
  exit_at_ = time;
}

void FakeEngine::SetClock(DWORD time) {
  orvane::clock::UseVirtualClock(time);
}

DWORD FakeEngine::Now() const {
  return timeGetTime();
}

void FakeEngine::ScriptKey(DWORD time, int32_t key, bool pressed) {
  inputs_.push_back({time, Input::kKey, key, pressed ? 1 : 0, 0});
}

void FakeEngine::ScriptMouse(DWORD time, int32_t kind, int32_t x, int32_t y) {
  inputs_.push_back({time, Input::kMouse, kind, x, y});
}

void FakeEngine::ScriptMousePos(DWORD time, int32_t x, int32_t y) {
  inputs_.push_back({time, Input::kPosition, x, y, 0});
}

int32_t FakeEngine::IsExit() const {
  if (exiting_) return 1;
  return exit_at_set_ && Until(exit_at_, Now()) <= 0 ? 1 : 0;
}

void FakeEngine::Deliver() {
  const DWORD now = Now();
  std::vector<Input> later;
  for (const Input& input : inputs_) {
    if (Until(input.time, now) > 0) {
      later.push_back(input);
      continue;
    }
    switch (input.kind) {
      case Input::kKey:
        if (input.a >= 0 && input.a < 256) keys_held_[input.a] = input.b != 0;
        key_buffer_.push_back({input.a, input.b != 0});
        break;
      case Input::kMouse: {
        MouseEvent event{input.a, input.b, input.c};
        if (input.a == kMouseCaptureCancelled) {
          event.x = event.y = 0;
        } else {
          mouse_x_ = input.b;
          mouse_y_ = input.c;
        }
        bool merged = false;
        if (event.kind == kMouseMove) {
          for (MouseEvent& queued : mouse_live_) {
            if (queued.kind != kMouseMove) continue;
            queued = event;
            merged = true;
          }
        }
        if (!merged && mouse_live_.size() < kMouseQueueSize) mouse_live_.push_back(event);
        break;
      }
      case Input::kPosition:
        mouse_x_ = input.a;
        mouse_y_ = input.b;
        break;
    }
  }
  inputs_ = std::move(later);
}

void FakeEngine::RefreshKeys() {
  if (!key_refresh_) return;
  key_refresh_ = false;
  std::memcpy(batch_held_, keys_held_, sizeof(batch_held_));
  const size_t n = std::min(key_buffer_.size(), kKeyBatchSize);
  key_batch_.assign(key_buffer_.begin(), key_buffer_.begin() + n);
  key_buffer_.erase(key_buffer_.begin(), key_buffer_.begin() + n);
  key_cursor_ = 0;
}

bool FakeEngine::WaitPass() {
  Deliver();
  bool wake = IsExit() != 0;
  if (wake_on_keys_) {
    key_refresh_ = true;
    RefreshKeys();
    wake |= key_cursor_ < key_batch_.size();
  }
  if (wake_on_mouse_) {
    mouse_snapshot_ = std::move(mouse_live_);
    mouse_live_.clear();
    mouse_cursor_ = 0;
    wake |= !mouse_snapshot_.empty();
  }
  return wake;
}

int64_t FakeEngine::NextWake() const {
  const DWORD now = Now();
  int64_t next = -1;
  auto consider = [&](DWORD time) {
    int64_t until = std::max<int32_t>(Until(time, now), 0);
    if (next < 0 || until < next) next = until;
  };
  for (const Input& input : inputs_) consider(input.time);
  if (exit_at_set_ && !exiting_) consider(exit_at_);
  return next;
}

int32_t FakeEngine::WaitEvent(int32_t ms) {
  Record(("ovWaitEvent(" + std::to_string(ms) + ")").c_str());
  if (++wait_calls_ > kRunawayWaits) {
    if (wait_calls_ == kRunawayWaits + 1)
      ADD_FAILURE() << "the game waited more than " << kRunawayWaits << " times";
    exiting_ = true;
    return 1;
  }
  const bool unlimited = ms < 0;
  const int64_t limit = unlimited ? 0 : std::max<int64_t>(ms, 1);
  int64_t elapsed = 0;
  for (;;) {
    const int64_t wake = NextWake();
    int64_t step;
    if (unlimited) {
      if (wake < 0) {
        ADD_FAILURE() << "ovWaitEvent(-1) with nothing scripted to end it";
        return 0;
      }
      step = wake;
    } else {
      step = limit - elapsed;
      if (wake >= 0 && wake < step) step = wake;
    }
    // Every call takes at least 1 ms, so polling loops move the clock.
    if (elapsed == 0 && step == 0) step = 1;
    orvane::clock::AdvanceVirtualClock(static_cast<DWORD>(step));
    elapsed += step;
    if (WaitPass()) return 1;
    if (!unlimited && elapsed >= limit) return 0;
  }
}

void FakeEngine::ClearEvent() {
  Record("ovClearEvent");
  wake_on_keys_ = wake_on_mouse_ = false;
}

void FakeEngine::WaitKeyEvent(int32_t flag) {
  Record(("ovWaitKeyEvent(" + std::to_string(flag) + ")").c_str());
  wake_on_keys_ = flag != 0;
}

void FakeEngine::WaitMouseEvent(int32_t flag) {
  Record(("ovWaitMouseEvent(" + std::to_string(flag) + ")").c_str());
  wake_on_mouse_ = flag != 0;
}

int32_t FakeEngine::GetKeyState(int32_t key) {
  Record(("ovGetKeyState(" + std::to_string(key) + ")").c_str());
  RefreshKeys();
  return key >= 0 && key < 256 && batch_held_[key] ? 1 : 0;
}

int32_t FakeEngine::GetKeyEvent(int32_t* key, int32_t* state) {
  Record("ovGetKeyEvent");
  RefreshKeys();
  if (key_cursor_ >= key_batch_.size()) return 0;
  *key = key_batch_[key_cursor_].first;
  *state = key_batch_[key_cursor_].second ? 1 : 2;
  ++key_cursor_;
  return 1;
}

void FakeEngine::ClearKey() {
  Record("ovClearKey");
  key_refresh_ = true;
}

int32_t FakeEngine::GetMouse(int32_t* kind, int32_t* x, int32_t* y) {
  Record("ovGetMouse");
  if (mouse_cursor_ >= mouse_snapshot_.size()) return 0;
  const MouseEvent& event = mouse_snapshot_[mouse_cursor_++];
  *kind = event.kind;
  *x = event.x;
  *y = event.y;
  return 1;
}

void FakeEngine::ClearMouse() {
  Record("ovClearMouse");
  mouse_snapshot_ = std::move(mouse_live_);
  mouse_live_.clear();
  mouse_cursor_ = 0;
}

void FakeEngine::GetMousePos(int32_t* x, int32_t* y) {
  Record("ovGetMousePos");
  *x = mouse_x_;
  *y = mouse_y_;
}

void FakeEngine::SetMousePos(int32_t x, int32_t y) {
  Record(("ovSetMousePos(" + std::to_string(x) + ", " + std::to_string(y) + ")").c_str());
  mouse_sets_.push_back({x, y});
  mouse_x_ = x;
  mouse_y_ = y;
}

}  // namespace orvane_test
