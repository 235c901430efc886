// Execution context of the script machine: the parsed image record, slot table, operand stack,
// frames, globals shared between clones, and the source position.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/dref.h"
#include "vm/script_value.h"

class ScriptContext;

// Native-call hook: runs built-in n on the context (CallBuiltin in every task); the bool is the
// handler's result.
using VmNativeHook = bool (*)(ScriptContext* ctx, uint32_t n);
// Error callback: reports a run-time fault code (ReportVmErrorCode in every task).
using VmErrorCallback = void (*)(ScriptContext* ctx, uint32_t code);

// Limits that keep a runaway or damaged script from exhausting memory; reaching one raises error 1.
inline constexpr uint32_t kVmMaxSlots = 1u << 20;       // slot table entries (globals and frames)
inline constexpr uint32_t kVmMaxStackWords = 1u << 20;  // operand stack words
inline constexpr uint32_t kVmMaxOperandDepth = 32;      // nested index and name operands
inline constexpr uint32_t kVmStackStep = 2048;          // first stack size and growth step

// Which form of the instruction loop runs at each code address, one byte per code word, filled in
// as the loop first reaches an address (vm/machine.cc). Every context on an image shares it: the
// code never changes once a context runs it. A copy of the image record starts without one, so a
// copy whose code is then changed never meets forms decoded from other code.
using VmFormByte = std::atomic<uint8_t>;
class VmFormTable {
 public:
  VmFormTable() = default;
  VmFormTable(const VmFormTable&) {}
  VmFormTable& operator=(const VmFormTable&) {
    forms.reset();
    size = 0;
    return *this;
  }

  std::shared_ptr<VmFormByte[]> forms;  // 0 = not decoded yet
  uint32_t size = 0;                    // code words it was made for
};

// A method of the image's method table.
struct ScriptMethodEntry {
  std::string name;  // cp932, as stored
  uint32_t entry;    // code address
};

// The parsed image that every context running it shares (one-element DRef array). The image
// reader fills it from a validated image; the machine trusts only what the fields below say and
// checks every code address, data offset, slot and stack index against them at run time.
struct ScriptImageInfo {
  std::vector<uint32_t> code;              // code words; code addresses index this array
  std::vector<char> data;                  // plain string block followed by one guard NUL
  uint32_t data_length = 0;                // bytes of the string block (data.size() - 1)
  std::vector<uint32_t> exports;           // export k's code address
  std::vector<ScriptMethodEntry> methods;  // in table order
  std::vector<std::string> sources;        // source-file names
  uint32_t globals = 0;                    // G: slots 0..G-1 are the globals
  uint32_t return_address = 0;             // R: where the method started first returns
  VmFormTable form_table;                  // the machine's decoded forms of the code

  // Sets `data` and `data_length` from plain string-block bytes, adding the guard NUL.
  void SetData(const void* bytes, size_t length);
  // First method whose name equals `name` ignoring ASCII case (double-byte characters exactly).
  bool FindMethod(const char* name, uint32_t* entry) const;
};

// Words of the operand stack are 64 bits: numbers in the low 32 bits, or a value address.
using VmWord = uint64_t;

// Allocates the operand stack without clearing its words: only words below the top are ever read,
// and a new context then touches only the stack pages it uses.
template <typename T>
struct VmUnclearedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = VmUnclearedAllocator<U>;
  };
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }
};
using VmStack = std::vector<VmWord, VmUnclearedAllocator<VmWord>>;

// The complete state of one running script method.
class ScriptContext {
 public:
  // A context on the image, its own globals, an operand stack of 2048 words; null when the image
  // is empty or its global count exceeds kVmMaxSlots.
  static ScriptContext* Create(const DRef<ScriptImageInfo>& image, uint32_t growth, VmNativeHook hook,
                               VmErrorCallback callback);
  // A new, not running context on the source's image with its own globals.
  static ScriptContext* CloneFresh(const ScriptContext& source);
  // A new, not running context on the source's image sharing the source's globals and counters.
  static ScriptContext* CloneShared(const ScriptContext& source);
  // Stops the context when it runs, then frees it; null does nothing.
  static void Destroy(ScriptContext* ctx);

  ScriptContext(const ScriptContext&) = delete;
  ScriptContext& operator=(const ScriptContext&) = delete;

  // Starts at a code address: false when already running. Afterwards slot top = G and the stack
  // holds [G, R]. Clears the globals when no other context of the sharing set runs.
  bool Start(uint32_t entry);
  // Start at the first method named `name` (ASCII case ignored); false when missing or running.
  bool StartByName(const char* name);
  // Start at export n when 0 <= n < export count; else false.
  bool StartByExport(int32_t n);
  // Clears the running flag and lowers the runners count; false when not running.
  bool Stop();
  bool running() const { return (flags_ & 1) != 0; }

  // Runs one instruction; true ends the run (OpHalt, or a fault that the script cannot go on from).
  bool Step();
  // Calls the error callback with the code.
  void RaiseError(uint32_t code);
  // Raises error 1 and marks the current instruction as fatal: Step then gives true.
  void Fault();

  bool FindMethod(const char* name, uint32_t* entry) const { return image_->FindMethod(name, entry); }

  // Frames. Enter opens n slots from the frame base (growing the table) and makes them int; false
  // (after Fault) when the table would pass kVmMaxSlots. Leave and ClearLocals check their range.
  bool Enter(uint32_t n);
  bool Leave(uint32_t n);
  bool ClearLocals(uint32_t first, uint32_t n);

  // Operand stack. Push grows by 2048 words; false (after Fault) at kVmMaxStackWords.
  bool Push(VmWord word);
  // Removes n words; false (after Fault) when fewer are on the stack.
  bool Drop(uint32_t n);
  // Pops one word; false (after Fault, word 0) on an empty stack.
  bool Pop(VmWord* word);
  // Pushes a reference pair: slot index (flag 0) or the address of a member of `record` (flag 1);
  // the record is kept alive while the pair is on the stack.
  bool PushSlotRef(uint32_t slot);
  bool PushValueRef(ScriptValue* value, const DRef<void>& record);
  // Reads the reference pair whose reference word is at stack index `ref_index` (flag word below).
  // kBad: the pair lies outside the stack, or says address but holds none that OpPushRef pushed.
  // kSlot: *slot gets the slot index (not range-tested). kAddress: *value gets the address.
  enum class Pair { kBad, kSlot, kAddress };
  Pair ReadPair(int64_t ref_index, uint32_t* slot, ScriptValue** value) const;
  // The record kept alive for the address pair whose reference word is at `ref_index` (empty when none).
  DRef<void> PinnedRecord(int64_t ref_index) const;

  // Slot access: the value at index i, or null outside the table.
  ScriptValue* SlotOrNull(int64_t i) const {
    return (i >= 0 && i < static_cast<int64_t>(slot_capacity_)) ? Slot(static_cast<uint32_t>(i)) : nullptr;
  }
  ScriptValue* result() const { return Slot(0); }

  // Code access: the word at pc (pc advances), or 0 after Fault when pc lies outside the code.
  uint32_t Fetch() {
    if (pc_ < code_size_) return code_[pc_++];
    Fault();
    return 0;
  }
  // Sets pc to a code address: false (after Fault) when it lies outside the code.
  bool JumpTo(uint32_t addr) {
    if (addr >= code_size_) {
      Fault();
      return false;
    }
    pc_ = addr;
    return true;
  }
  // The NUL-terminated constant at data offset `off`, or null after Fault when outside the block.
  const char* DataText(uint32_t off);

  // Arguments of a built-in (argument k is the k-th reference pair below the top word; 0 is slot 0).
  // Bad pairs raise error 1 and give slot 0.
  ScriptValue* GetArg(uint32_t k);
  ScriptValue* GetArgElement(uint32_t k, int32_t i);
  ScriptValue* GetArgMember(uint32_t k, const char* name);
  void SetArgInt(uint32_t k, int32_t v) { GetArg(k)->SetInt(v); }
  void SetArgElementInt(uint32_t k, int32_t i, int32_t v) { GetArgElement(k, i)->SetInt(v); }

  // Source position: the name of source-table entry `index`, "(error)" past the table.
  const char* GetSourceName(uint32_t index) const;
  // has = false and nothing else written when the image has no source names; otherwise the name
  // (cut to size - 1 bytes and a NUL when size is not 0) and the line.
  void GetSourcePos(bool* has, char* buffer, size_t size, uint32_t* line) const;
  // What OpSetFile and OpSetLine record.
  void SetSourceFile(uint32_t index) { file_index_ = index; }
  void SetSourceLine(uint32_t line) { line_ = line; }

  uint32_t globals() const { return image_->globals; }
  char* text_buffer() { return text_; }

  // ---- Read-only views of the state, and the few settings a host changes.
  const ScriptImageInfo& image() const { return *image_; }
  uint32_t code_size() const { return code_size_; }
  uint32_t pc() const { return pc_; }
  uint32_t frame_base() const { return frame_base_; }
  // What OpPopBase does with a popped word.
  void SetFrameBase(uint32_t base) { frame_base_ = base; }
  uint32_t stack_top() const { return stack_top_; }
  uint32_t stack_capacity() const { return static_cast<uint32_t>(stack_.size()); }
  // Word i of the operand stack (i < stack_top()).
  VmWord StackWord(uint32_t i) const { return stack_[i]; }
  uint32_t slot_top() const { return slot_top_; }
  uint32_t slot_capacity() const { return slot_capacity_; }
  // Slot top = frame base + n: false (after Fault) past the table.
  bool SetTop(uint32_t n);
  // Contexts sharing these globals, and how many of them run.
  uint32_t sharer_count() const { return *sharers_; }
  uint32_t runner_count() const { return *runners_; }
  // The current instruction met a fault it cannot go on from.
  bool faulted() const { return fault_; }
  VmNativeHook hook() const { return hook_; }
  void SetHook(VmNativeHook hook) { hook_ = hook; }
  void SetErrorCallback(VmErrorCallback callback) { on_error_ = callback; }

  // Runs up to `n` instructions (n >= 1), stopping after one that ends the run (*end = true) or
  // after which (*run_flags & mask) is not 0; gives how many ran. Step's rules hold for each.
  uint32_t StepMany(uint32_t n, const uint32_t* run_flags, uint32_t mask, bool* end);

 private:
  friend ScriptValue* DecodeOperand(ScriptContext* ctx);

  // An address pushed on the stack and the record that holds the addressed member.
  struct Pin {
    uint32_t index;      // stack index of the reference word
    ScriptValue* value;  // the address pushed
    DRef<void> record;   // keeps the member alive
  };

  ScriptContext() = default;
  ~ScriptContext();
  // StepMany's loop; kSingle builds it for exactly one instruction with no run flags to test.
  template <bool kSingle>
  uint32_t Run(uint32_t n, const uint32_t* run_flags, uint32_t mask, bool* end);
  // Contexts come from the context pool (32 blocks), then from the heap.
  static void* operator new(size_t size);
  static void operator delete(void* p);

  // The value of slot s (s < slot_capacity_): globals, then the context's own frame slots.
  ScriptValue* Slot(uint32_t s) const { return slot_base_ + s; }

  void AttachImage(const DRef<ScriptImageInfo>& image);
  // Reserves the slot range; the globals' pages are new, or those of `share` when it is given.
  void ReserveSlots(const ScriptContext* share);
  // Puts the globals into shared pages at the same addresses (once); false when memory runs out.
  bool ShareGlobalPages() const;
  void AllocSlots();
  void ShareSlots(const ScriptContext& source);
  void FreeSlots();
  void BeginRun();
  bool GrowSlots(uint64_t needed);
  // Extends the table to `capacity` entries of int 0 values; false when memory runs out.
  bool AddSlotBlock(uint32_t capacity);
  void Unpin() {
    while (!pins_.empty() && pins_.back().index >= stack_top_) pins_.pop_back();
  }
  // One instruction at pc through its handler, and Step's fault rules after it.
  bool Execute();
  bool StepSlow();

  // ---- State. The hot fields come first.
  const uint32_t* code_ = nullptr;       // first code word
  VmFormByte* forms_ = nullptr;          // decoded form of each code address (the image's table)
  uint32_t code_size_ = 0;               // code words
  uint32_t pc_ = 0;                      // code address of the next word to read
  ScriptValue* slot_base_ = nullptr;     // slot s is slot_base_[s] (s < slot_capacity_)
  uint32_t slot_capacity_ = 0;           // entries of the slot table
  uint32_t frame_base_ = 0;              // slot index where the current frame begins
  uint32_t stack_top_ = 0;               // words on the operand stack (change it only by Push/Drop/Pop)
  uint32_t slot_top_ = 0;                // slots in use: globals and frames
  bool fault_ = false;                   // the current instruction met a fault it cannot go on from
  uint32_t depth_ = 0;                   // nesting of the operand being decoded
  DRef<ScriptImageInfo> image_;          // shared image record
  const char* data_ = nullptr;           // first byte of the string block
  uint32_t growth_ = 1024;               // slots added per growth of the table
  char* range_ = nullptr;                // the reserved slot range
  size_t globals_bytes_ = 0;             // its first part: the globals' pages
  size_t committed_ = 0;                 // bytes from range_ on that are readable and writable
  mutable bool globals_shared_ = false;  // the globals' pages are shared memory
  std::shared_ptr<uint32_t> sharers_;    // contexts sharing these globals
  std::shared_ptr<uint32_t> runners_;    // those of them that are running
  VmStack stack_;                        // operand stack; stack_.size() is its capacity
  uint32_t flags_ = 0;                   // bit 0: running
  char text_[256] = {};                  // number-to-text scratch buffer
  VmNativeHook hook_ = nullptr;          // built-in calls
  VmErrorCallback on_error_ = nullptr;   // run-time faults
  uint32_t file_index_ = 0;              // source table index recorded by the code
  uint32_t line_ = 0;                    // source line recorded by the code
  std::vector<Pin> pins_;                // addresses on the stack, in stack order

  // Keeps forms_ alive.
  std::shared_ptr<VmFormByte[]> forms_owner_;
};
