// Tests of DRefList: walk order and wrap, insert, erase, pop, clear and outside iterators.
#include "base/dreflist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int g_alive = 0;  // Item objects alive

struct Item {
  Item() { ++g_alive; }
  ~Item() { --g_alive; }
  char name = '?';
};

DRef<Item> Make(char name) {
  DRef<Item> r;
  r.Alloc(1);
  r->name = name;
  return r;
}

std::string Walk(DRefList<Item>& list) {
  std::string out;
  for (auto it = list.Begin(); !(it == list.End()); it = it.Next()) out += it.Value()->name;
  return out;
}

class DRefListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_alive = 0;
    pool_used_ = DRefBlockPool()->GetUsed();
  }
  void TearDown() override {
    EXPECT_EQ(g_alive, 0);
    EXPECT_EQ(DRefBlockPool()->GetUsed(), pool_used_) << "control blocks leaked";
  }
  uint32_t pool_used_ = 0;
};

TEST_F(DRefListTest, UnusedListMakesNothing) {
  const uint32_t before = DRefBlockPool()->GetUsed();
  {
    DRefList<Item> list;
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_FALSE(list.PopBack());
    list.Clear();
    EXPECT_EQ(DRefBlockPool()->GetUsed(), before);
  }
  DRefList<Item> used;
  EXPECT_TRUE(used.Begin() == used.End());
  EXPECT_FALSE(used.Front());
  EXPECT_FALSE(used.End().Value());
}

TEST_F(DRefListTest, PushBackWalksInOrderAndWraps) {
  DRefList<Item> list;
  for (char c : std::string("abc")) list.PushBack(Make(c));
  EXPECT_EQ(g_alive, 3);  // the list holds the only references
  EXPECT_EQ(Walk(list), "abc");
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_TRUE(list.Last().Next() == list.End());
  EXPECT_EQ(list.End().Next().Value()->name, 'a');
  EXPECT_EQ(list.Front()->name, 'a');
}

TEST_F(DRefListTest, InsertInFrontOfPosition) {
  DRefList<Item> list;
  auto c = list.PushBack(Make('c'));
  list.Insert(c, Make('b'));
  list.Insert(list.Begin(), Make('a'));
  list.Insert(list.End(), Make('d'));
  EXPECT_EQ(Walk(list), "abcd");
}

TEST_F(DRefListTest, EraseReturnsFollowingNodeAndDropsValue) {
  DRefList<Item> list;
  list.PushBack(Make('a'));
  auto b = list.PushBack(Make('b'));
  list.PushBack(Make('c'));
  auto next = list.Erase(b);
  EXPECT_EQ(next.Value()->name, 'c');
  EXPECT_EQ(list.GetCount(), 2u);
  EXPECT_EQ(g_alive, 2);  // b's only owner was the list
  EXPECT_EQ(Walk(list), "ac");
  EXPECT_FALSE(b.Value());  // the erased node's value is empty

  EXPECT_TRUE(list.Erase(list.End()) == list.End());
  EXPECT_EQ(list.GetCount(), 2u);
}

TEST_F(DRefListTest, EraseWhileWalkingAndValueOutlivesNode) {
  DRefList<Item> list;
  for (char c : std::string("abcde")) list.PushBack(Make(c));
  DRef<Item> kept = list.Begin().Next().Value();  // b
  for (auto it = list.Begin(); !(it == list.End());) {
    it = (it.Value()->name % 2 == 0) ? list.Erase(it) : it.Next();  // erase b and d
  }
  EXPECT_EQ(Walk(list), "ace");
  EXPECT_EQ(g_alive, 4);
  EXPECT_EQ(kept->name, 'b');
}

TEST_F(DRefListTest, PopBackTakesLastValue) {
  DRefList<Item> list;
  list.PushBack(Make('a'));
  list.PushBack(Make('b'));
  DRef<Item> v = list.PopBack();
  EXPECT_EQ(v->name, 'b');
  EXPECT_EQ(v.UseCount(), 1u);
  EXPECT_EQ(Walk(list), "a");
}

TEST_F(DRefListTest, ClearReleasesEveryValue) {
  DRefList<Item> list;
  for (int i = 0; i < 100; ++i) list.PushBack(Make('x'));
  list.Clear();
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(g_alive, 0);
  EXPECT_TRUE(list.Begin() == list.End());
}

TEST_F(DRefListTest, OutsideIteratorKeepsNodeAliveAfterListDies) {
  DRefList<Item>::Iterator outside;
  DRefList<Item>::Iterator end;
  {
    DRefList<Item> list;
    list.PushBack(Make('a'));
    outside = list.PushBack(Make('b'));
    list.PushBack(Make('c'));
    end = list.End();
  }
  EXPECT_EQ(g_alive, 0);  // every value released by the clear
  EXPECT_FALSE(outside.Value());
  EXPECT_FALSE(end.Value());
  EXPECT_NE(DRefBlockPool()->GetUsed(), pool_used_);  // nodes held through the iterators
  outside = DRefList<Item>::Iterator();
  end = DRefList<Item>::Iterator();
  // TearDown checks that every node and the sentinel are freed now.
}

TEST_F(DRefListTest, LongChainOfErasedNodesIsFreedWithoutDeepRecursion) {
  // Each erased node holds its old next node, so an iterator kept on the first node of a cleared
  // list holds the whole chain; releasing it must not nest one destructor call per node.
  for (bool from_back : {false, true}) {
    DRefList<Item>::Iterator kept;
    {
      DRefList<Item> list;
      for (int i = 0; i < 300000; ++i) list.PushBack(DRef<Item>());
      if (from_back) {
        kept = list.Last();
        while (list.GetCount() != 0) list.PopBack();  // the chain runs through prev
      } else {
        kept = list.Begin();
      }
    }
    kept = DRefList<Item>::Iterator();
  }
}

TEST_F(DRefListTest, ErasingAnErasedNodeAgainChangesNothing) {
  DRefList<Item> list;
  for (char c : std::string("abc")) list.PushBack(Make(c));
  auto b = list.Begin().Next();
  list.Erase(b);
  EXPECT_TRUE(list.Erase(b) == list.End());
  EXPECT_EQ(list.GetCount(), 2u);
  EXPECT_EQ(Walk(list), "ac");
  list.Clear();
  EXPECT_TRUE(list.Begin() == list.End());
}

TEST_F(DRefListTest, ListsOfListsInHandles) {
  DRef<DRefList<Item>> levels;
  levels.Alloc(3);
  levels[1].PushBack(Make('z'));
  EXPECT_EQ(levels[1].Front()->name, 'z');
  levels.Release();
}

}  // namespace
