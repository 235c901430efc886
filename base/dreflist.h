// DRefList: circular doubly linked list of handles whose links and iterators are handles too.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"

// A list node: counted links to its neighbours and the element's handle kept untyped.
// The destructor releases prev, then next; the value is dropped by the list when the node is
// erased, never by the node.
struct DRefListNode {
  DRefListNode() = default;
  DRefListNode(const DRefListNode&) = delete;
  DRefListNode& operator=(const DRefListNode&) = delete;
  // An erased node keeps its old neighbours, which may be erased nodes holding theirs: an
  // iterator kept on one node of a cleared list holds a chain as long as the list was. The nodes
  // that this one holds the last reference to are freed by a loop, not by nested destructor
  // calls, so a long chain cannot exhaust the stack.
  ~DRefListNode() {
    DRef<void> pending;  // nodes still to free, chained through their empty value handles
    Drop(prev, pending);
    Drop(next, pending);
    while (pending) {
      DRef<DRefListNode> node = DRef<DRefListNode>::Convert(pending);
      pending = static_cast<DRef<void>&&>(node->value);
      Drop(node->prev, pending);
      Drop(node->next, pending);
      node.Release();  // its links and value are empty now: no nested work
    }
  }

  DRef<DRefListNode> next;  // following node (the sentinel after the last node)
  DRef<DRefListNode> prev;  // preceding node (the sentinel before the first node)
  DRef<void> value;         // the element; empty for the sentinel and for erased nodes

 private:
  // Releases a link; a node that it held the last reference to (with an empty value) is put on
  // the pending chain instead of being destroyed here.
  static void Drop(DRef<DRefListNode>& link, DRef<void>& pending) {
    if (link.UseCount() == 1 && !link->value) {
      link->value = static_cast<DRef<void>&&>(pending);
      pending = DRef<void>::Convert(link);
    }
    link.Release();
  }
};

// The list of handles to T. It makes its sentinel on first use; an iterator is a handle to a node
// and keeps that node alive after it is erased or the list is gone (such an iterator is only
// good for being released). Used by one thread at a time. Not copyable.
template <class T>
class DRefList : public DObject {
 public:
  class Iterator {
   public:
    Iterator() = default;
    explicit Iterator(DRef<DRefListNode> node) : node_(static_cast<DRef<DRefListNode>&&>(node)) {}

    // The following node: the end iterator after the last node, the first node after the end.
    Iterator Next() const { return Iterator(node_->next); }
    // The node before.
    Iterator Prev() const { return Iterator(node_->prev); }
    // A copy of the node's value; empty for the end iterator.
    DRef<T> Value() const { return DRef<T>::Convert(node_->value); }
    bool operator==(const Iterator& o) const { return node_.Get() == o.node_.Get(); }
    const DRef<DRefListNode>& Node() const { return node_; }

   private:
    DRef<DRefListNode> node_;
  };

  DRefList() = default;
  DRefList(const DRefList&) = delete;
  DRefList& operator=(const DRefList&) = delete;
  // Erases every node, then breaks the sentinel's ring so the nodes are freed.
  ~DRefList() override {
    if (!sentinel_) return;
    Clear();
    sentinel_->next.Release();
    sentinel_->prev.Release();
    sentinel_.Release();
  }

  Iterator End() { return Iterator(Sentinel()); }
  Iterator Begin() { return Iterator(Sentinel()->next); }
  Iterator Last() { return Iterator(Sentinel()->prev); }
  uint32_t GetCount() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }

  // Links a new node holding a copy of `value` in front of `pos`; returns the new node.
  Iterator Insert(const Iterator& pos, const DRef<T>& value) {
    Sentinel();
    DRef<DRefListNode> node;
    node.Alloc(1);
    const DRef<DRefListNode>& p = pos.Node();
    node->next = p;
    node->prev = p->prev;
    node->value = DRef<void>::Convert(value);
    p->prev->next = node;
    p->prev = node;
    ++count_;
    return Iterator(static_cast<DRef<DRefListNode>&&>(node));
  }
  Iterator PushBack(const DRef<T>& value) { return Insert(End(), value); }

  // The first value; empty when the list is empty.
  DRef<T> Front() { return Begin().Value(); }

  // Takes the last value out of the list; empty and no change when the list is empty.
  DRef<T> PopBack() {
    if (count_ == 0) return DRef<T>();
    Iterator last = Last();
    DRef<T> v = last.Value();
    Erase(last);
    return v;
  }

  // Unlinks the node and drops its value; returns the following node. The end iterator changes
  // nothing and is returned as it is.
  Iterator Erase(const Iterator& pos) {
    DRef<DRefListNode> s = Sentinel();
    if (pos.Node().Get() == s.Get()) return pos;
    DRef<DRefListNode> node = pos.Node();  // keeps the node while it is unlinked
    // A node erased before is no longer its neighbour's next: unlinking it again would cut live
    // nodes out of the ring and break the count. It changes nothing, like the end iterator.
    if (node->prev->next.Get() != node.Get()) return End();
    node->prev->next = node->next;
    node->next->prev = node->prev;
    Iterator result(node->next);
    --count_;
    node->value.Release();
    return result;
  }

  void Clear() {
    while (count_ != 0) Erase(Begin());
  }

 private:
  const DRef<DRefListNode>& Sentinel() {
    if (!sentinel_) {
      sentinel_.Alloc(1);
      sentinel_->next = sentinel_;
      sentinel_->prev = sentinel_;
    }
    return sentinel_;
  }

  DRef<DRefListNode> sentinel_;  // the ring's sentinel; empty until first use
  uint32_t count_ = 0;           // nodes other than the sentinel
};
