// Execution contexts: creation and clones, the slot table and its sharing set, frames, the operand
// stack with its reference pairs, built-in arguments and the source position.
#include "vm/script_context.h"

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define ORVANE_LEAK_CHECKED 1
#endif
#endif
#if defined(ORVANE_LEAK_CHECKED)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "base/dblockpool.h"
#include "base/dstring.h"
#include "vm/dispatch.h"

namespace {

DGlobalBlockPool g_context_pool(32, sizeof(ScriptContext));

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Same bytes over n, ASCII letters in any case, double-byte characters exactly.
bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n;) {
    if (DIsLeadByte(a[i]) && i + 1 < n) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      i += 2;
    } else {
      if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
      ++i;
    }
  }
  return true;
}

}  // namespace

// ---- The image record.

void ScriptImageInfo::SetData(const void* bytes, size_t length) {
  const char* p = static_cast<const char*>(bytes);
  data.assign(p, p + length);
  data.push_back('\0');
  data_length = static_cast<uint32_t>(length);
}

bool ScriptImageInfo::FindMethod(const char* name, uint32_t* entry) const {
  size_t n = std::strlen(name);
  for (const ScriptMethodEntry& m : methods) {
    if (m.name.size() == n && EqualNoCase(m.name.c_str(), name, n)) {
      *entry = m.entry;
      return true;
    }
  }
  return false;
}

// ---- Creation and destruction.

void* ScriptContext::operator new(size_t size) {
  return DBlockPool::AllocFrom(g_context_pool.Get(), static_cast<uint32_t>(size));
}

void ScriptContext::operator delete(void* p) {
  DBlockPool::FreeBlock(p);
}

ScriptContext::~ScriptContext() {
  pins_.clear();
  FreeSlots();
}

void ScriptContext::AttachImage(const DRef<ScriptImageInfo>& img) {
  image_ = img;
  data_ = image_->data.empty() ? "" : image_->data.data();
  code_ = image_->code.data();
  code_size_ = static_cast<uint32_t>(std::min<size_t>(image_->code.size(), UINT32_MAX));
  VmFormTable& table = image_->form_table;
  if (!table.forms || table.size != code_size_) {
    table.forms.reset(new VmFormByte[std::max<uint32_t>(code_size_, 1)]());
    table.size = code_size_;
  }
  forms_owner_ = table.forms;
  forms_ = forms_owner_.get();
}

ScriptContext* ScriptContext::Create(const DRef<ScriptImageInfo>& img, uint32_t growth_step,
                                     VmNativeHook hook_, VmErrorCallback callback) {
  if (!img || img->globals > kVmMaxSlots) return nullptr;
  ScriptContext* ctx = new ScriptContext();
  ctx->sharers_ = std::make_shared<uint32_t>(0);
  ctx->runners_ = std::make_shared<uint32_t>(0);
  ctx->AttachImage(img);
  ctx->growth_ = std::clamp<uint32_t>(growth_step, 1, kVmMaxSlots);
  ctx->hook_ = hook_;
  ctx->on_error_ = callback;
  ctx->AllocSlots();
  ctx->stack_.resize(kVmStackStep);
  return ctx;
}

ScriptContext* ScriptContext::CloneFresh(const ScriptContext& source) {
  ScriptContext* ctx = new ScriptContext();
  ctx->sharers_ = std::make_shared<uint32_t>(0);
  ctx->runners_ = std::make_shared<uint32_t>(0);
  ctx->AttachImage(source.image_);
  ctx->growth_ = source.growth_;
  ctx->hook_ = source.hook_;
  ctx->on_error_ = source.on_error_;
  ctx->AllocSlots();
  ctx->stack_.resize(kVmStackStep);
  return ctx;
}

ScriptContext* ScriptContext::CloneShared(const ScriptContext& source) {
  ScriptContext* ctx = new ScriptContext();
  ctx->AttachImage(source.image_);
  ctx->growth_ = source.growth_;
  ctx->hook_ = source.hook_;
  ctx->on_error_ = source.on_error_;
  ctx->ShareSlots(source);
  ctx->stack_.resize(kVmStackStep);
  return ctx;
}

void ScriptContext::Destroy(ScriptContext* ctx) {
  if (!ctx) return;
  ctx->Stop();
  delete ctx;
}

// ---- Slot table and the sharing set.

// The slot table is one reserved address range per context: slot s lives at slot_base_ + s, so a
// value never moves while the table grows (built-ins and operands hold value addresses) and a
// plain slot is one address computation away. The globals end exactly at the range's first page
// boundary after them. When contexts share globals, the globals' pages are shared memory that
// every member maps into its own range, so each reaches the same values at its own addresses; a
// context whose globals nobody shares keeps them in private pages. Frame-slot pages become usable
// as the table grows. Fresh pages are zero, and an all-zero value is int 0.
namespace {

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

size_t PageRound(size_t bytes) {
  return (bytes + PageSize() - 1) / PageSize() * PageSize();
}

// Every context reserves the same size: the most slots, and a page for the globals' rounding.
size_t ReserveBytes() {
  return PageRound(size_t{kVmMaxSlots} * sizeof(ScriptValue)) + PageSize();
}

// Ranges of contexts that ended, all zero again, kept for the next contexts: a task's start then
// maps nothing. Only small ones with private globals come here.
struct RangeCache {
  static constexpr size_t kMax = 8;
  static constexpr size_t kMaxCommitted = size_t{64} << 10;
  std::mutex lock;
  size_t count = 0;
  char* range[kMax];
  size_t committed[kMax];
};

RangeCache& Ranges() {
  static RangeCache* cache = new RangeCache();  // used until the end of the program
  return *cache;
}

// A new slot range, or null. The leak checker does not look into mapped memory by itself: the
// range is one of its roots, so what slot values own is reachable through them.
char* MapRange() {
  void* p = mmap(nullptr, ReserveBytes(), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
#if defined(ORVANE_LEAK_CHECKED)
  __lsan_register_root_region(p, ReserveBytes());
#endif
  return static_cast<char*>(p);
}

void UnmapRange(char* p) {
#if defined(ORVANE_LEAK_CHECKED)
  __lsan_unregister_root_region(p, ReserveBytes());
#endif
  munmap(p, ReserveBytes());
}

}  // namespace

void ScriptContext::ReserveSlots(const ScriptContext* share) {
  const uint32_t g = globals();
  globals_bytes_ = PageRound(size_t{g} * sizeof(ScriptValue));
  committed_ = 0;
  range_ = nullptr;
  {
    RangeCache& cache = Ranges();
    std::lock_guard<std::mutex> hold(cache.lock);
    if (cache.count > 0) {
      --cache.count;
      range_ = cache.range[cache.count];
      committed_ = cache.committed[cache.count];
    }
  }
  if (!range_) {
    range_ = MapRange();
    if (!range_) throw std::bad_alloc();
  }
  slot_base_ = reinterpret_cast<ScriptValue*>(range_ + globals_bytes_) - g;
  globals_shared_ = false;
  if (share && globals_bytes_ != 0) {
    if (!share->ShareGlobalPages() ||
        mremap(share->range_, 0, globals_bytes_, MREMAP_MAYMOVE | MREMAP_FIXED, range_) != range_) {
      UnmapRange(range_);
      range_ = nullptr;
      throw std::bad_alloc();
    }
    globals_shared_ = true;
    committed_ = std::max(committed_, globals_bytes_);
  }
}

bool ScriptContext::ShareGlobalPages() const {
  if (globals_shared_) return true;
  // The values move bytewise into shared pages put in place of the private ones at the same
  // addresses: what they own stays theirs, and every address of them stays valid.
  void* shared = mmap(nullptr, globals_bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return false;
  std::memcpy(shared, range_, globals_bytes_);
  if (mremap(shared, globals_bytes_, globals_bytes_, MREMAP_MAYMOVE | MREMAP_FIXED, range_) != range_) {
    munmap(shared, globals_bytes_);
    return false;
  }
  globals_shared_ = true;
  return true;
}

void ScriptContext::AllocSlots() {
  uint32_t g = globals();
  ReserveSlots(nullptr);
  uint32_t capacity = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{g} + growth_, kVmMaxSlots));
  slot_capacity_ = g;
  if (!AddSlotBlock(std::max<uint32_t>(capacity, std::max<uint32_t>(g, 1)))) throw std::bad_alloc();
  ++*sharers_;
}

void ScriptContext::ShareSlots(const ScriptContext& source) {
  uint32_t g = globals();
  ReserveSlots(&source);
  uint32_t capacity = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{g} + growth_, kVmMaxSlots));
  slot_capacity_ = g;
  if (!AddSlotBlock(std::max<uint32_t>(capacity, std::max<uint32_t>(g, 1)))) throw std::bad_alloc();
  sharers_ = source.sharers_;
  runners_ = source.runners_;
  ++*sharers_;
}

bool ScriptContext::AddSlotBlock(uint32_t capacity) {
  const size_t need = PageRound(globals_bytes_ + size_t{capacity - globals()} * sizeof(ScriptValue));
  if (need > committed_) {
    if (mprotect(range_ + committed_, need - committed_, PROT_READ | PROT_WRITE) != 0) return false;
    // Every committed page is read when the context ends (its values are released in slot order),
    // so the pages are made present here in one call rather than by a page fault each, which costs
    // far more. A kernel without this advice leaves them to fault in on first use as before.
    madvise(range_ + committed_, need - committed_, MADV_POPULATE_WRITE);
    committed_ = need;
  }
  slot_capacity_ = capacity;
  return true;
}

void ScriptContext::FreeSlots() {
  if (!range_) return;
  uint32_t g = globals();
  // Values are released in slot order: the globals first when no other context shares them. Int
  // values own nothing.
  if (--*sharers_ == 0) {
    for (uint32_t i = 0; i < g; ++i)
      if (Slot(i)->type() != kScriptInt) Slot(i)->Clear();
  }
  for (uint32_t i = g; i < slot_capacity_; ++i)
    if (Slot(i)->type() != kScriptInt) Slot(i)->Clear();
  bool kept = false;
  if (!globals_shared_ && committed_ <= RangeCache::kMaxCommitted) {
    RangeCache& cache = Ranges();
    std::lock_guard<std::mutex> hold(cache.lock);
    if (cache.count < RangeCache::kMax) {
      std::memset(range_, 0, committed_);
      cache.range[cache.count] = range_;
      cache.committed[cache.count] = committed_;
      ++cache.count;
      kept = true;
    }
  }
  if (!kept) UnmapRange(range_);
  range_ = nullptr;
  slot_base_ = nullptr;
  globals_bytes_ = committed_ = 0;
  slot_capacity_ = 0;
}

void ScriptContext::BeginRun() {
  slot_top_ = globals();
  ++*runners_;
  if (*runners_ <= 1) {
    for (uint32_t i = 0; i < globals(); ++i) Slot(i)->Clear();
  }
}

bool ScriptContext::GrowSlots(uint64_t needed) {
  if (needed > kVmMaxSlots) return false;
  uint64_t steps = (needed - slot_capacity_ + growth_ - 1) / growth_;
  uint64_t capacity = std::min<uint64_t>(slot_capacity_ + steps * growth_, kVmMaxSlots);
  return AddSlotBlock(static_cast<uint32_t>(capacity));
}

// ---- Running.

bool ScriptContext::Start(uint32_t entry) {
  if (running()) return false;
  flags_ |= 1;
  slot_top_ = stack_top_ = frame_base_ = 0;
  pins_.clear();
  fault_ = false;
  depth_ = 0;
  BeginRun();
  Push(globals());
  Push(image_->return_address);
  pc_ = entry;
  return true;
}

bool ScriptContext::StartByName(const char* name) {
  uint32_t entry;
  return FindMethod(name, &entry) && Start(entry);
}

bool ScriptContext::StartByExport(int32_t n) {
  if (n < 0 || static_cast<size_t>(n) >= image_->exports.size()) return false;
  return Start(image_->exports[static_cast<size_t>(n)]);
}

bool ScriptContext::Stop() {
  if (!running()) return false;
  flags_ &= ~1u;
  --*runners_;
  return true;
}

void ScriptContext::RaiseError(uint32_t code) {
  if (on_error_) on_error_(this, code);
}

void ScriptContext::Fault() {
  if (fault_) return;
  fault_ = true;
  RaiseError(1);
}

// ---- Frames.

bool ScriptContext::Enter(uint32_t n) {
  uint64_t top = uint64_t{frame_base_} + n;
  if (top > slot_capacity_ && !GrowSlots(top)) {
    Fault();
    return false;
  }
  slot_top_ = static_cast<uint32_t>(top);
  for (uint32_t i = 0; i < n; ++i) Slot(frame_base_ + i)->Clear();
  return true;
}

bool ScriptContext::Leave(uint32_t n) {
  if (n > slot_top_ || uint64_t{frame_base_} + n > slot_capacity_) {
    Fault();
    return false;
  }
  slot_top_ -= n;
  for (uint32_t i = 0; i < n; ++i) Slot(frame_base_ + i)->Clear();
  return true;
}

bool ScriptContext::SetTop(uint32_t n) {
  uint64_t top = uint64_t{frame_base_} + n;
  if (top > slot_capacity_) {
    Fault();
    return false;
  }
  slot_top_ = static_cast<uint32_t>(top);
  return true;
}

bool ScriptContext::ClearLocals(uint32_t first, uint32_t n) {
  uint64_t start = uint64_t{frame_base_} + first;
  if (start + n > slot_capacity_) {
    Fault();
    return false;
  }
  for (uint64_t i = start; i < start + n; ++i) Slot(static_cast<uint32_t>(i))->Clear();
  return true;
}

// ---- Operand stack_.

bool ScriptContext::Push(VmWord word) {
  if (stack_top_ == stack_.size()) {
    if (stack_.size() + kVmStackStep > kVmMaxStackWords) {
      Fault();
      return false;
    }
    stack_.resize(stack_.size() + kVmStackStep);
  }
  stack_[stack_top_++] = word;
  return true;
}

bool ScriptContext::Drop(uint32_t n) {
  if (n > stack_top_) {
    Fault();
    return false;
  }
  stack_top_ -= n;
  Unpin();
  return true;
}

bool ScriptContext::Pop(VmWord* word) {
  if (stack_top_ == 0) {
    *word = 0;
    Fault();
    return false;
  }
  *word = stack_[--stack_top_];
  Unpin();
  return true;
}

bool ScriptContext::PushSlotRef(uint32_t slot) {
  return Push(0) && Push(slot);
}

bool ScriptContext::PushValueRef(ScriptValue* value, const DRef<void>& record) {
  if (!Push(1) || !Push(reinterpret_cast<uintptr_t>(value))) return false;
  pins_.push_back(Pin{stack_top_ - 1, value, record});
  return true;
}

ScriptContext::Pair ScriptContext::ReadPair(int64_t ref_index, uint32_t* slot, ScriptValue** value) const {
  *slot = 0;
  *value = nullptr;
  if (ref_index < 1 || ref_index >= static_cast<int64_t>(stack_top_)) return Pair::kBad;
  VmWord flag = stack_[static_cast<size_t>(ref_index - 1)];
  VmWord ref = stack_[static_cast<size_t>(ref_index)];
  if (flag & 1) {
    // Only an address that OpPushRef put there is one: numbers pushed by the code never are.
    for (auto it = pins_.rbegin(); it != pins_.rend() && it->index >= ref_index; ++it) {
      if (it->index == ref_index && reinterpret_cast<uintptr_t>(it->value) == ref) {
        *value = it->value;
        return Pair::kAddress;
      }
    }
    return Pair::kBad;
  }
  *slot = static_cast<uint32_t>(ref);
  return Pair::kSlot;
}

DRef<void> ScriptContext::PinnedRecord(int64_t ref_index) const {
  for (auto it = pins_.rbegin(); it != pins_.rend() && it->index >= ref_index; ++it) {
    if (it->index == ref_index) return it->record;
  }
  return DRef<void>();
}

const char* ScriptContext::DataText(uint32_t off) {
  if (off >= image_->data_length) {
    Fault();
    return nullptr;
  }
  return data_ + off;
}

// ---- Built-in arguments.

ScriptValue* ScriptContext::GetArg(uint32_t k) {
  if (k == 0) return Slot(0);
  uint32_t slot;
  ScriptValue* value;
  Pair kind = ReadPair(int64_t{stack_top_} - 2 * int64_t{k}, &slot, &value);
  if (kind == Pair::kAddress) return value;
  if (kind == Pair::kSlot && (value = SlotOrNull(slot))) return value;
  RaiseError(1);
  return Slot(0);
}

ScriptValue* ScriptContext::GetArgElement(uint32_t k, int32_t i) {
  if (k == 0) return Slot(0);
  uint32_t slot;
  ScriptValue* value;
  Pair kind = ReadPair(int64_t{stack_top_} - 2 * int64_t{k}, &slot, &value);
  if (kind == Pair::kAddress && i <= 0) return value;
  if (kind == Pair::kSlot) {
    uint32_t e = slot + static_cast<uint32_t>(i);
    if (static_cast<int32_t>(e) >= 0 && e < slot_top_) return Slot(e);
  }
  RaiseError(1);
  return Slot(0);
}

ScriptValue* ScriptContext::GetArgMember(uint32_t k, const char* name) {
  return GetArg(k)->GetMember(name);
}

// ---- Source position.

const char* ScriptContext::GetSourceName(uint32_t index) const {
  return index < image_->sources.size() ? image_->sources[index].c_str() : "(error)";
}

void ScriptContext::GetSourcePos(bool* has, char* buffer, size_t size, uint32_t* out_line) const {
  if (image_->sources.empty()) {
    *has = false;
    return;
  }
  *has = true;
  const char* name = GetSourceName(file_index_);
  if (size != 0) {
    size_t n = std::min(std::strlen(name), size - 1);
    std::memcpy(buffer, name, n);
    buffer[n] = '\0';
  }
  *out_line = line_;
}
