// DBlockPool: pool blocks in one store behind a free stack, heap blocks for everything else.
#include "base/dblockpool.h"

#include <cstring>

// In front of every block: whether it is a pool block and which pool it belongs to. 16 bytes, so
// the caller's bytes keep the heap's alignment.
struct alignas(16) DBlockPool::Header {
  uint32_t kind;     // 1 pool block, 0 heap block
  DBlockPool* pool;  // owning pool of a pool block
};
static_assert(sizeof(void*) != 8 || alignof(std::max_align_t) <= 16, "header keeps max alignment");

namespace {
constexpr std::align_val_t kAlign{16};
constexpr uint32_t kPoolBlock = 1;
constexpr uint32_t kHeapBlock = 0;

// Raw memory that throws DBadAlloc on failure.
void* RawAlloc(size_t n) {
  try {
    return ::operator new(n, kAlign);
  } catch (const DBadAlloc&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw DBadAlloc();
  }
}
void RawFree(void* p) {
  ::operator delete(p, kAlign);
}
}  // namespace

void DNewHandler() {
  throw DBadAlloc();
}

DBlockPool* DBlockPool::Create(uint32_t count, uint32_t size) {
  if (count == 0 || size == 0) return nullptr;
  const size_t stride = ((size_t{size} + 15) & ~size_t{15}) + sizeof(Header);
  if (stride > UINT32_MAX || stride * count > size_t{PTRDIFF_MAX} / 2) throw DBadAlloc();
  DBlockPool* pool = new DBlockPool;
  pool->Enter();
  try {
    pool->storage_ = static_cast<unsigned char*>(RawAlloc(stride * count));
    pool->free_stack_ = new Header*[count];
  } catch (...) {
    pool->Leave();
    if (pool->storage_) RawFree(pool->storage_);
    delete pool;
    throw;
  }
  pool->block_size_ = size;
  pool->capacity_ = count;
  pool->stride_ = static_cast<uint32_t>(stride);
  // Blocks get their headers when first handed out: a large pool costs no page of memory until
  // it is used.
  pool->Leave();
  return pool;
}

DBlockPool::Header* DBlockPool::Carve(uint32_t index) {
  return new (storage_ + size_t{index} * stride_) Header{kPoolBlock, this};
}

DBlockPool::~DBlockPool() {
  delete[] free_stack_;
  if (storage_) RawFree(storage_);
}

void DBlockPool::Destroy(DBlockPool* pool) {
  if (!pool) return;
  pool->Enter();
  if (pool->used_ != 0) {
    // Blocks still out would come back into freed memory: free the pool when the last returns.
    pool->retired_ = true;
    pool->Leave();
    return;
  }
  pool->Leave();
  delete pool;
}

void* DBlockPool::Alloc(uint32_t size) {
  {
    DLockGuard guard(*this);
    if (size == block_size_ && used_ < capacity_) {
      // Below carved_ the stack holds returned blocks; at carved_ the next block never handed out.
      Header* h = used_ < carved_ ? free_stack_[used_] : Carve(carved_++);
      ++used_;
      return h + 1;
    }
  }
  Header* h = new (RawAlloc(sizeof(Header) + size_t{size})) Header{kHeapBlock, nullptr};
  return h + 1;
}

void* DBlockPool::AllocFrom(DBlockPool* pool, uint32_t size) {
  if (pool) return pool->Alloc(size);
  Header* h = new (RawAlloc(sizeof(Header) + size_t{size})) Header{kHeapBlock, nullptr};
  return h + 1;
}

void DBlockPool::FreeBlock(void* p) {
  if (!p) return;
  Header* h = static_cast<Header*>(p) - 1;
  if (h->kind == kHeapBlock) {
    RawFree(h);
    return;
  }
  h->pool->Push(h);
}

void DBlockPool::Push(Header* h) {
  Enter();
  // A block returned twice must not push the stack below its start.
  if (used_ != 0) free_stack_[--used_] = h;
  const bool last = retired_ && used_ == 0;
  Leave();
  if (last) delete this;
}

uint32_t DBlockPool::GetUsed() {
  DLockGuard guard(*this);
  return used_;
}

DBlockPool* DGlobalBlockPool::Get() {
  std::call_once(once_, [this] {
    if (!closed_.load(std::memory_order_acquire)) pool_.store(DBlockPool::Create(count_, size_));
  });
  return pool_.load(std::memory_order_acquire);
}

DGlobalBlockPool::~DGlobalBlockPool() {
  closed_.store(true, std::memory_order_release);
  DBlockPool::Destroy(pool_.exchange(nullptr));
}
