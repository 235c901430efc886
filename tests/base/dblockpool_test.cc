// Tests of DBlockPool, the module-wide pools, DLock and the allocation-failure handler.
#include "base/dblockpool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

struct PoolDeleter {
  void operator()(DBlockPool* p) const { DBlockPool::Destroy(p); }
};
using PoolPtr = std::unique_ptr<DBlockPool, PoolDeleter>;

// Pool blocks of 8 bytes lie one 32-byte stride apart (16-byte header, size rounded to 16).
bool Adjacent(void* a, void* b) {
  return reinterpret_cast<uintptr_t>(b) - reinterpret_cast<uintptr_t>(a) == 32u;
}

TEST(DBlockPool, AddressOrderFirstThenHeapThenLastFreedFirst) {
  PoolPtr pool(DBlockPool::Create(2, 8));
  ASSERT_TRUE(pool);
  void* a = pool->Alloc(8);
  void* b = pool->Alloc(8);
  EXPECT_TRUE(Adjacent(a, b));
  EXPECT_EQ(pool->GetUsed(), 2u);
  void* c = pool->Alloc(8);  // exhausted: heap
  EXPECT_EQ(pool->GetUsed(), 2u);
  pool->Free(b);
  EXPECT_EQ(pool->GetUsed(), 1u);
  EXPECT_EQ(pool->Alloc(8), b);
  pool->Free(a);
  pool->Free(b);
  pool->Free(c);
  EXPECT_EQ(pool->GetUsed(), 0u);
  // Every block is usable memory of the size asked for.
  void* d = pool->Alloc(8);
  std::memset(d, 0xAB, 8);
  pool->Free(d);
}

// Returned blocks are handed out again before any block that was never out, which then
// continue in address order.
TEST(DBlockPool, ReturnedBlocksComeBackBeforeUntouchedOnes) {
  PoolPtr pool(DBlockPool::Create(4, 8));
  void* a = pool->Alloc(8);
  void* b = pool->Alloc(8);
  pool->Free(a);
  EXPECT_EQ(pool->Alloc(8), a);
  void* c = pool->Alloc(8);
  EXPECT_TRUE(Adjacent(b, c));
  pool->Free(c);
  pool->Free(b);
  EXPECT_EQ(pool->Alloc(8), b);
  EXPECT_EQ(pool->Alloc(8), c);
  void* d = pool->Alloc(8);  // the fourth and last pool block
  EXPECT_TRUE(Adjacent(c, d));
  void* e = pool->Alloc(8);  // the heap
  EXPECT_EQ(pool->GetUsed(), 4u);
  for (void* p : {a, b, c, d, e}) pool->Free(p);
  EXPECT_EQ(pool->GetUsed(), 0u);
}

TEST(DBlockPool, OtherSizesGoToHeapWithoutTouchingPool) {
  PoolPtr pool(DBlockPool::Create(2, 8));
  void* p = pool->Alloc(12);
  std::memset(p, 1, 12);
  EXPECT_EQ(pool->GetUsed(), 0u);
  pool->Free(p);
  EXPECT_EQ(pool->GetUsed(), 0u);
  void* z = pool->Alloc(0);  // a zero-byte heap block is still a distinct block
  EXPECT_NE(z, nullptr);
  pool->Free(z);
}

TEST(DBlockPool, BlocksAreSixteenByteAligned) {
  for (uint32_t size : {1u, 8u, 12u, 24u, 40u}) {
    PoolPtr pool(DBlockPool::Create(3, size));
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(pool->Alloc(size));  // three pool, one heap
    blocks.push_back(pool->Alloc(size + 1));
    for (void* b : blocks) EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u) << "size " << size;
    for (void* b : blocks) pool->Free(b);
  }
}

TEST(DBlockPool, CreateRefusesZeroAndDestroyAcceptsNull) {
  EXPECT_EQ(DBlockPool::Create(0, 8), nullptr);
  EXPECT_EQ(DBlockPool::Create(8, 0), nullptr);
  DBlockPool::Destroy(nullptr);
  DBlockPool::FreeBlock(nullptr);
}

TEST(DBlockPool, BlockFreedToWrongPoolGoesHomeAndDestroyWaitsForBlocks) {
  DBlockPool* a = DBlockPool::Create(1, 16);
  DBlockPool* b = DBlockPool::Create(1, 16);
  void* p = a->Alloc(16);
  b->Free(p);  // returns to its own pool a
  EXPECT_EQ(a->GetUsed(), 0u);
  EXPECT_EQ(b->GetUsed(), 0u);
  // Destroying a pool with a block out retires it; the last return frees it (ASan: no leak, no
  // write to freed memory).
  void* q = a->Alloc(16);
  DBlockPool::Destroy(a);
  DBlockPool::FreeBlock(q);
  DBlockPool::Destroy(b);
}

TEST(DBlockPool, HeapFallbackWhenNoPool) {
  void* p = DBlockPool::AllocFrom(nullptr, 24);
  std::memset(p, 0, 24);
  DBlockPool::FreeBlock(p);
}

TEST(DBlockPool, ConcurrentUseKeepsCounts) {
  PoolPtr pool(DBlockPool::Create(64, 32));
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      void* x = pool->Alloc(32);
      void* y = pool->Alloc(32);
      pool->Free(x);
      pool->Free(y);
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(pool->GetUsed(), 0u);
}

TEST(DGlobalBlockPool, MadeOnFirstUseAndHeapAfterClose) {
  void* late = nullptr;
  {
    DGlobalBlockPool global(4, 16);
    DBlockPool* p = global.Get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(global.Get(), p);
    EXPECT_EQ(p->GetCapacity(), 4u);
    late = p->Alloc(16);  // still out when the owner goes
  }
  DBlockPool::FreeBlock(late);  // frees the retired pool
}

TEST(DLock, LazySectionRecursiveEnterAndDelete) {
  DLock never;
  EXPECT_FALSE(never.IsReady());
  EXPECT_TRUE(never.Delete());
  EXPECT_FALSE(never.IsReady());

  DLock lock;
  lock.Enter();
  EXPECT_TRUE(lock.IsReady());
  lock.Enter();  // recursive
  lock.Leave();
  lock.Leave();
  EXPECT_TRUE(lock.Delete());
  EXPECT_FALSE(lock.IsReady());
  lock.Enter();  // made anew
  EXPECT_TRUE(lock.IsReady());
  lock.Leave();
}

TEST(DLock, LeaveFirstInitialisesSection) {
  DLock lock;
  lock.Enter();
  DLock other;
  // Leaving a section never entered makes it first; the owner thread state stays sane.
  other.Leave();
  EXPECT_TRUE(other.IsReady());
  lock.Leave();
}

TEST(DLock, ExcludesOtherThreads) {
  DLock lock;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      DLockGuard g(lock);
      ++counter;
    }
  };
  lock.Enter();  // made before the threads race
  lock.Leave();
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 20000);
}

TEST(DNewHandler, ThrowsBadAllocation) {
  try {
    DNewHandler();
  } catch (const std::bad_alloc& e) {
    EXPECT_STREQ(e.what(), "bad allocation");
    return;
  }
  FAIL();
}

}  // namespace
