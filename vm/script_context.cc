// Execution contexts: creation and clones, the slot table and its sharing set, frames, the operand
// stack with its reference pairs, built-in arguments and the source position.
#include "vm/script_context.h"

#include <algorithm>
#include <cstring>

#include "base/dblockpool.h"
#include "base/dstring.h"
#include "vm/dispatch.h"

namespace {

DGlobalBlockPool g_value_pool(2048, sizeof(ScriptValue));
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

ScriptValue* NewScriptValue() {
  void* p = DBlockPool::AllocFrom(g_value_pool.Get(), sizeof(ScriptValue));
  return new (p) ScriptValue();
}

void DeleteScriptValue(ScriptValue* v) {
  if (!v) return;
  v->~ScriptValue();
  DBlockPool::FreeBlock(v);
}

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
  image = img;
  data = image->data.empty() ? "" : image->data.data();
  code = image->code.data();
  code_size = static_cast<uint32_t>(std::min<size_t>(image->code.size(), UINT32_MAX));
}

ScriptContext* ScriptContext::Create(const DRef<ScriptImageInfo>& img, uint32_t growth_step,
                                     VmNativeHook hook, VmErrorCallback callback) {
  if (!img || img->globals > kVmMaxSlots) return nullptr;
  ScriptContext* ctx = new ScriptContext();
  ctx->sharers = std::make_shared<uint32_t>(0);
  ctx->runners = std::make_shared<uint32_t>(0);
  ctx->AttachImage(img);
  ctx->growth = std::clamp<uint32_t>(growth_step, 1, kVmMaxSlots);
  ctx->hook = hook;
  ctx->on_error = callback;
  ctx->AllocSlots();
  ctx->stack.resize(kVmStackStep);
  return ctx;
}

ScriptContext* ScriptContext::CloneFresh(const ScriptContext& source) {
  ScriptContext* ctx = new ScriptContext();
  ctx->sharers = std::make_shared<uint32_t>(0);
  ctx->runners = std::make_shared<uint32_t>(0);
  ctx->AttachImage(source.image);
  ctx->growth = source.growth;
  ctx->hook = source.hook;
  ctx->on_error = source.on_error;
  ctx->AllocSlots();
  ctx->stack.resize(kVmStackStep);
  return ctx;
}

ScriptContext* ScriptContext::CloneShared(const ScriptContext& source) {
  ScriptContext* ctx = new ScriptContext();
  ctx->AttachImage(source.image);
  ctx->growth = source.growth;
  ctx->hook = source.hook;
  ctx->on_error = source.on_error;
  ctx->ShareSlots(source);
  ctx->stack.resize(kVmStackStep);
  return ctx;
}

void ScriptContext::Destroy(ScriptContext* ctx) {
  if (!ctx) return;
  ctx->Stop();
  delete ctx;
}

// ---- Slot table and the sharing set.

void ScriptContext::AllocSlots() {
  uint32_t g = globals();
  slot_capacity = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{g} + growth, kVmMaxSlots));
  slot_capacity = std::max<uint32_t>(slot_capacity, std::max<uint32_t>(g, 1));
  slots.resize(slot_capacity);
  for (auto& s : slots) s = NewScriptValue();
  ++*sharers;
}

void ScriptContext::ShareSlots(const ScriptContext& source) {
  uint32_t g = globals();
  slot_capacity = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{g} + growth, kVmMaxSlots));
  slot_capacity = std::max<uint32_t>(slot_capacity, std::max<uint32_t>(g, 1));
  slots.resize(slot_capacity);
  for (uint32_t i = 0; i < slot_capacity; ++i) slots[i] = i < g ? source.slots[i] : NewScriptValue();
  sharers = source.sharers;
  runners = source.runners;
  ++*sharers;
}

void ScriptContext::FreeSlots() {
  if (slots.empty()) return;
  uint32_t g = std::min<uint32_t>(globals(), slot_capacity);
  if (--*sharers == 0) {
    for (uint32_t i = 0; i < g; ++i) DeleteScriptValue(slots[i]);
  }
  for (uint32_t i = g; i < slot_capacity; ++i) DeleteScriptValue(slots[i]);
  slots.clear();
  slot_capacity = 0;
}

void ScriptContext::BeginRun() {
  slot_top = globals();
  ++*runners;
  if (*runners <= 1) {
    for (uint32_t i = 0; i < globals(); ++i) slots[i]->Clear();
  }
}

bool ScriptContext::GrowSlots(uint64_t needed) {
  if (needed > kVmMaxSlots) return false;
  uint64_t steps = (needed - slot_capacity + growth - 1) / growth;
  uint64_t capacity = std::min<uint64_t>(slot_capacity + steps * growth, kVmMaxSlots);
  slots.resize(static_cast<size_t>(capacity));
  for (uint64_t i = slot_capacity; i < capacity; ++i) slots[static_cast<size_t>(i)] = NewScriptValue();
  slot_capacity = static_cast<uint32_t>(capacity);
  return true;
}

// ---- Running.

bool ScriptContext::Start(uint32_t entry) {
  if (running()) return false;
  flags |= 1;
  slot_top = stack_top = frame_base = 0;
  pins_.clear();
  fault = false;
  depth = 0;
  BeginRun();
  Push(globals());
  Push(image->return_address);
  pc = entry;
  return true;
}

bool ScriptContext::StartByName(const char* name) {
  uint32_t entry;
  return FindMethod(name, &entry) && Start(entry);
}

bool ScriptContext::StartByExport(int32_t n) {
  if (n < 0 || static_cast<size_t>(n) >= image->exports.size()) return false;
  return Start(image->exports[static_cast<size_t>(n)]);
}

bool ScriptContext::Stop() {
  if (!running()) return false;
  flags &= ~1u;
  --*runners;
  return true;
}

bool ScriptContext::Step() {
  uint32_t op = Fetch();
  bool end;
  if (fault) {
    end = true;
  } else if (op < kVmInstructionCount) {
    end = VmDispatchTable[op](this);
  } else if (op < kVmDispatchTableSize) {
    // A built-in named directly by the code runs as OpCall 1 n would run it.
    if (hook) hook(this, op - kVmInstructionCount);
    end = false;
  } else {
    RaiseError(1);
    end = true;
  }
  if (fault) {
    fault = false;
    end = true;
  }
  depth = 0;
  return end;
}

void ScriptContext::RaiseError(uint32_t code) {
  if (on_error) on_error(this, code);
}

void ScriptContext::Fault() {
  if (fault) return;
  fault = true;
  RaiseError(1);
}

// ---- Frames.

bool ScriptContext::Enter(uint32_t n) {
  uint64_t top = uint64_t{frame_base} + n;
  if (top > slot_capacity && !GrowSlots(top)) {
    Fault();
    return false;
  }
  slot_top = static_cast<uint32_t>(top);
  for (uint32_t i = 0; i < n; ++i) slots[frame_base + i]->Clear();
  return true;
}

bool ScriptContext::Leave(uint32_t n) {
  if (n > slot_top || uint64_t{frame_base} + n > slot_capacity) {
    Fault();
    return false;
  }
  slot_top -= n;
  for (uint32_t i = 0; i < n; ++i) slots[frame_base + i]->Clear();
  return true;
}

bool ScriptContext::ClearLocals(uint32_t first, uint32_t n) {
  uint64_t start = uint64_t{frame_base} + first;
  if (start + n > slot_capacity) {
    Fault();
    return false;
  }
  for (uint64_t i = start; i < start + n; ++i) slots[static_cast<size_t>(i)]->Clear();
  return true;
}

// ---- Operand stack.

bool ScriptContext::Push(VmWord word) {
  if (stack_top == stack.size()) {
    if (stack.size() + kVmStackStep > kVmMaxStackWords) {
      Fault();
      return false;
    }
    stack.resize(stack.size() + kVmStackStep);
  }
  stack[stack_top++] = word;
  return true;
}

bool ScriptContext::Drop(uint32_t n) {
  if (n > stack_top) {
    Fault();
    return false;
  }
  stack_top -= n;
  Unpin();
  return true;
}

bool ScriptContext::Pop(VmWord* word) {
  if (stack_top == 0) {
    *word = 0;
    Fault();
    return false;
  }
  *word = stack[--stack_top];
  Unpin();
  return true;
}

bool ScriptContext::PushSlotRef(uint32_t slot) {
  return Push(0) && Push(slot);
}

bool ScriptContext::PushValueRef(ScriptValue* value, const DRef<void>& record) {
  if (!Push(1) || !Push(reinterpret_cast<uintptr_t>(value))) return false;
  pins_.push_back(Pin{stack_top - 1, value, record});
  return true;
}

ScriptContext::Pair ScriptContext::ReadPair(int64_t ref_index, uint32_t* slot, ScriptValue** value) const {
  *slot = 0;
  *value = nullptr;
  if (ref_index < 1 || ref_index >= static_cast<int64_t>(stack_top)) return Pair::kBad;
  VmWord flag = stack[static_cast<size_t>(ref_index - 1)];
  VmWord ref = stack[static_cast<size_t>(ref_index)];
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
  if (off >= image->data_length) {
    Fault();
    return nullptr;
  }
  return data + off;
}

// ---- Built-in arguments.

ScriptValue* ScriptContext::GetArg(uint32_t k) {
  if (k == 0) return slots[0];
  uint32_t slot;
  ScriptValue* value;
  Pair kind = ReadPair(int64_t{stack_top} - 2 * int64_t{k}, &slot, &value);
  if (kind == Pair::kAddress) return value;
  if (kind == Pair::kSlot && (value = SlotOrNull(slot))) return value;
  RaiseError(1);
  return slots[0];
}

ScriptValue* ScriptContext::GetArgElement(uint32_t k, int32_t i) {
  if (k == 0) return slots[0];
  uint32_t slot;
  ScriptValue* value;
  Pair kind = ReadPair(int64_t{stack_top} - 2 * int64_t{k}, &slot, &value);
  if (kind == Pair::kAddress && i <= 0) return value;
  if (kind == Pair::kSlot) {
    uint32_t e = slot + static_cast<uint32_t>(i);
    if (static_cast<int32_t>(e) >= 0 && e < slot_top) return slots[e];
  }
  RaiseError(1);
  return slots[0];
}

ScriptValue* ScriptContext::GetArgMember(uint32_t k, const char* name) {
  return GetArg(k)->GetMember(name);
}

// ---- Source position.

const char* ScriptContext::GetSourceName(uint32_t index) const {
  return index < image->sources.size() ? image->sources[index].c_str() : "(error)";
}

void ScriptContext::GetSourcePos(bool* has, char* buffer, size_t size, uint32_t* out_line) const {
  if (image->sources.empty()) {
    *has = false;
    return;
  }
  *has = true;
  const char* name = GetSourceName(file_index);
  if (size != 0) {
    size_t n = std::min(std::strlen(name), size - 1);
    std::memcpy(buffer, name, n);
    buffer[n] = '\0';
  }
  *out_line = line;
}
