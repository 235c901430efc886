// DRef: reference-counted handles to arrays, their control blocks, and the handle-block pool.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "base/dblockpool.h"
#include "base/dobject.h"

// Control block of one array: the count of owning handles, element 0, and how to destroy the
// array. The destroy function is recorded when the array is made, so the array is destroyed with
// its own element type's destructor whatever element type the last handle has.
struct DRefBlock {
  std::atomic<uint32_t> count;  // owning handles that designate the array
  void* base;                   // element 0; never moves
  void (*destroy)(void* base);  // destroys every element and frees the storage
};

// The pool of control blocks (4096 blocks of one DRefBlock), made on first use.
DBlockPool* DRefBlockPool();

namespace dref_detail {
// Takes a control block with count 1 for `base`; throws DBadAlloc on exhaustion.
DRefBlock* NewBlock(void* base, void (*destroy)(void*));
// Destroys the array of a block whose count reached 0 and returns the block.
void DeleteBlock(DRefBlock* block);
// Throws DBadAlloc: an array too large to address.
[[noreturn]] void ThrowTooLarge();
// Counts: relaxed increment, acquire-release decrement (handles cross threads).
inline void AddRef(DRefBlock* b) {
  if (b) b->count.fetch_add(1, std::memory_order_relaxed);
}
inline void DropRef(DRefBlock* b) {
  if (b && b->count.fetch_sub(1, std::memory_order_acq_rel) == 1) DeleteBlock(b);
}
}  // namespace dref_detail

// A handle: a control block and a pointer to one element of the array behind it.
// Empty: both null. Owning: both set. Non-owning: no block, a pointer into memory owned elsewhere
// (it never frees anything and must not outlive that memory).
// Handles that share one block must be used by one thread at a time; distinct arrays may be made
// and released on any thread.
template <class T>
class DRef {
 public:
  using Element = T;
  using Ref = std::add_lvalue_reference_t<T>;

  DRef() noexcept = default;
  DRef(const DRef& o) noexcept : block_(o.block_), ptr_(o.ptr_) { dref_detail::AddRef(block_); }
  // Takes over the source's reference; the source is left empty.
  DRef(DRef&& o) noexcept : block_(o.block_), ptr_(o.ptr_) { o.block_ = nullptr, o.ptr_ = nullptr; }
  ~DRef() { dref_detail::DropRef(block_); }

  // Adds the reference on the source before dropping the old one, so self-assignment and
  // assignment between handles of one array never free it.
  DRef& operator=(const DRef& o) noexcept {
    dref_detail::AddRef(o.block_);
    DRefBlock* old = block_;
    block_ = o.block_;
    ptr_ = o.ptr_;
    dref_detail::DropRef(old);
    return *this;
  }
  DRef& operator=(DRef&& o) noexcept {
    if (this != &o) {
      DRefBlock* old = block_;
      block_ = o.block_;
      ptr_ = o.ptr_;
      o.block_ = nullptr;
      o.ptr_ = nullptr;
      dref_detail::DropRef(old);
    }
    return *this;
  }

  // Drops the reference and empties the handle (also when it was empty or non-owning).
  void Release() noexcept {
    DRefBlock* old = block_;
    block_ = nullptr;
    ptr_ = nullptr;
    dref_detail::DropRef(old);
  }

  // Drops the old reference and takes the source's reference without counting: the source is
  // left empty so it cannot drop that reference again.
  void Adopt(DRef& src) noexcept {
    if (this == &src) return;
    DRefBlock* old = block_;
    block_ = src.block_;
    ptr_ = src.ptr_;
    src.block_ = nullptr;
    src.ptr_ = nullptr;
    dref_detail::DropRef(old);
  }
  void Adopt(DRef&& src) noexcept { Adopt(src); }

  // Drops the old reference; the handle becomes non-owning on `p` (empty when `p` is null).
  DRef& Attach(T* p) noexcept {
    Release();
    ptr_ = p;
    return *this;
  }

  // Drops the old reference, then makes an array of `n` default-constructed elements (none for
  // n = 0) and designates element 0. If an element constructor throws, the elements made so far
  // are destroyed, the storage is freed, the handle stays empty and the exception propagates.
  // Allocation failure throws DBadAlloc and leaves the handle empty.
  void Alloc(uint32_t n) {
    Release();
    if (n == 0) return;
    if (n > kMaxElements) dref_detail::ThrowTooLarge();
    T* arr;
    try {
      arr = new T[n];
    } catch (const DBadAlloc&) {
      throw;
    } catch (const std::bad_alloc&) {
      throw DBadAlloc();
    }
    try {
      block_ =
          dref_detail::NewBlock(static_cast<void*>(const_cast<std::remove_cv_t<T>*>(arr)), &DestroyArray);
    } catch (...) {
      delete[] arr;
      throw;
    }
    ptr_ = arr;
  }

  // A new owning handle on the same block and element, seen as element type T (a base or derived
  // class of U); empty for an empty source.
  template <class U>
  static DRef Convert(const DRef<U>& src) noexcept {
    DRef r;
    r.block_ = src.block_;
    r.ptr_ = static_cast<T*>(src.ptr_);
    dref_detail::AddRef(r.block_);
    return r;
  }

  // A new handle sharing the block, `n` elements further on (callers stay inside the array).
  DRef Offset(int32_t n) const noexcept {
    DRef r(*this);
    r.ptr_ = ptr_ + n;
    return r;
  }

  // A non-owning handle on the same element.
  DRef View() const noexcept {
    DRef r;
    r.ptr_ = ptr_;
    return r;
  }

  // Returns the handle as it was, then moves this handle one element on.
  DRef PostIncrement() noexcept {
    DRef r(*this);
    ++ptr_;
    return r;
  }

  // A new heap-allocated copy of `global` (count + 1), or null when its pointer is null.
  // The receiver frees it with delete after taking its reference out with Adopt.
  static DRef* NewCopy(const DRef& global) {
    if (!global.ptr_) return nullptr;
    return new DRef(global);
  }

  T* Get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  Ref operator*() const noexcept { return *ptr_; }
  Ref operator[](std::ptrdiff_t i) const noexcept { return ptr_[i]; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  DRefBlock* GetBlock() const noexcept { return block_; }
  // Owning handles of the array (0 for an empty or non-owning handle).
  uint32_t UseCount() const noexcept { return block_ ? block_->count.load(std::memory_order_relaxed) : 0; }
  // Same element designated.
  bool operator==(const DRef& o) const noexcept { return ptr_ == o.ptr_; }

 private:
  template <class U>
  friend class DRef;

  static constexpr size_t kMaxElements = [] {
    if constexpr (std::is_void_v<T>) {
      return size_t{0};
    } else {
      return (size_t{PTRDIFF_MAX} - 64) / sizeof(T);
    }
  }();

  static void DestroyArray(void* base) { delete[] static_cast<T*>(base); }

  DRefBlock* block_ = nullptr;  // control block; null for an empty or non-owning handle
  T* ptr_ = nullptr;            // designated element
};

// The shape of wrappers whose first member after the DObject base is a handle.
template <class T>
class DRefOwner : public DObject {
 public:
  // A copy of the wrapped handle (count + 1).
  DRef<T> GetRef() const { return ref_; }

 protected:
  DRef<T> ref_;
};
