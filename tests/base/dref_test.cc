// Tests of DRef handles: counting, array destruction, views, offsets, cursors and heap copies.
#include "base/dref.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_log;  // destructor calls, in order

class Base : public DObject {
 public:
  ~Base() override { g_log.push_back("base"); }
  int tag = 0;
};

class Derived : public Base {
 public:
  Derived() : id(next_id++) {}
  ~Derived() override { g_log.push_back("derived" + std::to_string(id)); }
  static int next_id;
  int id;
  double extra[3] = {};  // makes the derived element larger than the base
};
int Derived::next_id = 0;

// A plain (non-DObject) type with a destructor.
struct Plain {
  ~Plain() { g_log.push_back("plain" + std::to_string(v)); }
  int v = 0;
};

// Throws from the third construction.
struct Fragile {
  static int made;
  Fragile() {
    if (made == 2) throw std::runtime_error("third");
    id = made++;
  }
  ~Fragile() { g_log.push_back("fragile" + std::to_string(id)); }
  int id = 0;
};
int Fragile::made = 0;

class DRefTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    Derived::next_id = 0;
    Fragile::made = 0;
  }
};

TEST_F(DRefTest, AllocMakesElementsAndCountsCopies) {
  DRef<int> a;
  EXPECT_EQ(a.Get(), nullptr);
  a.Alloc(4);
  ASSERT_NE(a.Get(), nullptr);
  EXPECT_EQ(a.UseCount(), 1u);
  {
    DRef<int> b(a);
    DRef<int> c;
    c = b;
    EXPECT_EQ(a.UseCount(), 3u);
    EXPECT_EQ(c.Get(), a.Get());
  }
  EXPECT_EQ(a.UseCount(), 1u);
}

TEST_F(DRefTest, AllocZeroReleasesOldArrayAndLeavesEmpty) {
  DRef<Plain> a;
  a.Alloc(2);
  a[0].v = 1;
  a[1].v = 2;
  a.Alloc(0);
  EXPECT_EQ(a.Get(), nullptr);
  EXPECT_EQ(a.GetBlock(), nullptr);
  // Elements go last first.
  EXPECT_EQ(g_log, (std::vector<std::string>{"plain2", "plain1"}));
}

TEST_F(DRefTest, AssignmentKeepsSharedArrayAlive) {
  DRef<Plain> a;
  a.Alloc(1);
  auto& self = a;
  a = self;
  EXPECT_EQ(a.UseCount(), 1u);
  EXPECT_TRUE(g_log.empty());
  DRef<Plain> b(a);
  a = b;  // same block
  EXPECT_EQ(a.UseCount(), 2u);
  EXPECT_TRUE(g_log.empty());
  b = DRef<Plain>();  // empty onto owning: drops one reference
  a = DRef<Plain>();
  EXPECT_EQ(g_log, (std::vector<std::string>{"plain0"}));
}

TEST_F(DRefTest, ReleaseDestroysOnceAndIgnoresEmptyOrViews) {
  Plain outside;
  DRef<Plain> view;
  view.Attach(&outside);
  view.Release();
  EXPECT_EQ(view.Get(), nullptr);
  DRef<Plain> empty;
  empty.Release();
  EXPECT_TRUE(g_log.empty());

  DRef<Plain> a;
  a.Alloc(1);
  DRef<Plain> b(a);
  DRef<Plain> c(a);
  a.Release();
  b.Release();
  EXPECT_TRUE(g_log.empty());
  c.Release();
  c.Release();
  EXPECT_EQ(g_log.size(), 1u);
}

TEST_F(DRefTest, ConvertedBaseHandleDestroysDerivedArrayWithDerivedDestructor) {
  DRef<Base> base;
  {
    DRef<Derived> d;
    d.Alloc(3);
    base = DRef<Base>::Convert(d);
    EXPECT_EQ(d.UseCount(), 2u);
  }
  ASSERT_TRUE(g_log.empty());
  base.Release();
  EXPECT_EQ(g_log, (std::vector<std::string>{"derived2", "base", "derived1", "base", "derived0", "base"}));
  EXPECT_FALSE(DRef<Base>::Convert(DRef<Derived>()));
}

TEST_F(DRefTest, ThrowingConstructorUnwindsAndLeavesHandleEmpty) {
  DRef<Fragile> f;
  f.Alloc(1);
  f[0].id = 9;
  Fragile::made = 0;
  EXPECT_THROW(f.Alloc(5), std::runtime_error);
  EXPECT_EQ(f.Get(), nullptr);
  // The old array went first; the two made elements were destroyed last first.
  EXPECT_EQ(g_log, (std::vector<std::string>{"fragile9", "fragile1", "fragile0"}));
}

TEST_F(DRefTest, HugeArrayThrowsBadAllocation) {
  struct Huge {
    char bytes[size_t{1} << 32];
  };
  struct Big {
    char bytes[1 << 20];
  };
  auto expect_bad_alloc = [](auto& handle, uint32_t n) {
    try {
      handle.Alloc(n);
      ADD_FAILURE() << "no exception for " << n;
    } catch (const std::bad_alloc& e) {
      EXPECT_STREQ(e.what(), "bad allocation");
    }
    EXPECT_EQ(handle.Get(), nullptr);
  };
  DRef<Huge> huge;  // the byte size overflows
  expect_bad_alloc(huge, 0xFFFFFFFFu);
#if !defined(__SANITIZE_ADDRESS__)
  DRef<Big> big;  // 4 TiB: the heap refuses (the address sanitizer would abort instead)
  big.Alloc(1);
  expect_bad_alloc(big, 1u << 22);
#endif
}

TEST_F(DRefTest, OffsetKeepsBufferAliveAfterFirstHandleGoes) {
  DRef<char> buf;
  buf.Alloc(10);
  for (int i = 0; i < 10; ++i) buf[i] = static_cast<char>('a' + i);
  DRef<char> tail = buf.Offset(5);
  buf.Release();
  EXPECT_EQ(tail.UseCount(), 1u);
  EXPECT_EQ(tail[0], 'f');  // read under ASan: freed memory would be reported
  EXPECT_EQ(tail.Offset(-5)[0], 'a');
}

TEST_F(DRefTest, PostIncrementReturnsOldPositionSharingBlock) {
  DRef<unsigned char> cur;
  cur.Alloc(4);
  for (int i = 0; i < 4; ++i) cur[i] = static_cast<unsigned char>(i * 10);
  DRef<unsigned char> k = cur.Offset(2);
  DRef<unsigned char> was = k.PostIncrement();
  EXPECT_EQ(*was, 20);
  EXPECT_EQ(*k, 30);
  EXPECT_EQ(was.GetBlock(), k.GetBlock());
  EXPECT_EQ(cur.UseCount(), 3u);
}

TEST_F(DRefTest, ViewAndAttachNeverOwn) {
  DRef<Plain> a;
  a.Alloc(1);
  DRef<Plain> v = a.View();
  EXPECT_EQ(v.Get(), a.Get());
  EXPECT_EQ(v.GetBlock(), nullptr);
  EXPECT_EQ(a.UseCount(), 1u);
  v.Attach(nullptr);
  EXPECT_FALSE(v);
}

TEST_F(DRefTest, AdoptTakesReferenceWithoutCounting) {
  DRef<int> a;
  a.Alloc(1);
  DRef<int>* heap = DRef<int>::NewCopy(a);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(a.UseCount(), 2u);
  DRef<int> local;
  local.Adopt(*heap);  // as a destroy export does: move out, free the heap object, then drop
  delete heap;
  EXPECT_EQ(a.UseCount(), 2u);
  local.Release();
  EXPECT_EQ(a.UseCount(), 1u);

  DRef<int> none;
  none.Attach(nullptr);
  EXPECT_EQ(DRef<int>::NewCopy(none), nullptr);
}

TEST_F(DRefTest, ControlBlocksComeFromHandlePoolThenHeap) {
  DBlockPool* pool = DRefBlockPool();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->GetCapacity(), 4096u);
  EXPECT_EQ(pool->GetBlockSize(), sizeof(DRefBlock));
  const uint32_t before = pool->GetUsed();
  std::vector<DRef<int>> many(4096 + 8);
  for (auto& h : many) h.Alloc(1);
  EXPECT_EQ(pool->GetUsed(), 4096u);  // the rest came from the heap
  many.clear();
  EXPECT_EQ(pool->GetUsed(), before);
}

TEST_F(DRefTest, CopiesOnTwoThreadsKeepTheCount) {
  DRef<Plain> a;
  a.Alloc(1);
  auto work = [&a] {
    for (int i = 0; i < 20000; ++i) {
      DRef<Plain> copy(a);
      DRef<Plain> other;
      other = copy;
    }
  };
  std::thread t1(work), t2(work);
  t1.join();
  t2.join();
  EXPECT_EQ(a.UseCount(), 1u);
  EXPECT_TRUE(g_log.empty());
}

TEST_F(DRefTest, ArraysOfTypesWithDestructorsAreAligned) {
  struct alignas(16) Wide {
    ~Wide() {}
    double d[2];
  };
  DRef<Wide> w;
  w.Alloc(3);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w.Get()) % 16, 0u);
}

}  // namespace
