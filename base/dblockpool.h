// DBlockPool: fixed-size block allocator with a heap fallback; module-wide pools; DNewHandler.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "base/dlock.h"

// The bad-allocation exception that every failed allocation of the library throws.
class DBadAlloc : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

// Allocation-failure handler for std::set_new_handler: throws DBadAlloc ("bad allocation").
[[noreturn]] void DNewHandler();

// A fixed-size block allocator guarded by its own lock. Blocks of the pool's size come from one
// preallocated store, first in address order and then last-freed-first; other sizes, and requests
// made while the pool is exhausted, come from the heap. Every block carries a 16-byte header in
// front of the caller's bytes (pool or heap, and the owning pool), so the caller's bytes are
// aligned for any type. The pool hands out raw memory: callers construct and destroy in it.
class DBlockPool : public DLock {
 public:
  // A pool of `count` blocks of `size` bytes with every block free; null when either is 0.
  static DBlockPool* Create(uint32_t count, uint32_t size);
  // Frees the store and the pool; null does nothing. A pool whose blocks are still out is retired
  // instead: it keeps working for those blocks and frees itself when the last one comes back.
  static void Destroy(DBlockPool* pool);

  // `size` bytes, never null: a pool block when size equals the block size and one is free,
  // else a heap block. Heap exhaustion throws DBadAlloc.
  void* Alloc(uint32_t size);
  // Returns a block from Alloc: a heap block to the heap, a pool block to the pool it came from
  // (found from the block's header). Null does nothing.
  void Free(void* p) { FreeBlock(p); }
  // Free without naming the pool.
  static void FreeBlock(void* p);
  // Alloc from `pool`, or from the heap when `pool` is null.
  static void* AllocFrom(DBlockPool* pool, uint32_t size);

  uint32_t GetBlockSize() const { return block_size_; }
  uint32_t GetCapacity() const { return capacity_; }
  // Pool blocks handed out and not yet returned.
  uint32_t GetUsed();

 private:
  DBlockPool() = default;
  ~DBlockPool() override;

  struct alignas(16) Header;

  void Push(Header* h);
  // Writes the header of pool block `index` and returns it.
  Header* Carve(uint32_t index);

  unsigned char* storage_ = nullptr;  // all pool blocks, one allocation
  Header** free_stack_ = nullptr;     // entries used_..carved_-1 are the free blocks carved so far
  uint32_t block_size_ = 0;           // the size callers ask for
  uint32_t capacity_ = 0;             // number of pool blocks
  uint32_t used_ = 0;                 // pool blocks handed out
  uint32_t carved_ = 0;               // blocks with a header; blocks carved_.. are free, in order
  uint32_t stride_ = 0;               // bytes from one block header to the next
  bool retired_ = false;              // destroyed while blocks were out: free on the last return
};

// A module-wide pool: made on first use (so static initialisation order never matters) and
// destroyed at exit once its blocks are back. Declare one as a global and reach it through Get.
class DGlobalBlockPool {
 public:
  constexpr DGlobalBlockPool(uint32_t count, uint32_t size) : count_(count), size_(size) {}
  DGlobalBlockPool(const DGlobalBlockPool&) = delete;
  DGlobalBlockPool& operator=(const DGlobalBlockPool&) = delete;
  ~DGlobalBlockPool();

  // The pool; null only after exit has destroyed it (DBlockPool::AllocFrom then uses the heap).
  DBlockPool* Get();

 private:
  std::once_flag once_;
  std::atomic<DBlockPool*> pool_{nullptr};
  std::atomic<bool> closed_{false};
  uint32_t count_;
  uint32_t size_;
};
