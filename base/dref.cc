// The handle-block pool and the control-block life of DRef handles.
#include "base/dref.h"

namespace {
constinit DGlobalBlockPool g_ref_pool(4096, sizeof(DRefBlock));
}  // namespace

DBlockPool* DRefBlockPool() {
  return g_ref_pool.Get();
}

namespace dref_detail {

DRefBlock* NewBlock(void* base, void (*destroy)(void*)) {
  void* mem = DBlockPool::AllocFrom(DRefBlockPool(), sizeof(DRefBlock));
  return new (mem) DRefBlock{{1}, base, destroy};
}

void DeleteBlock(DRefBlock* block) {
  block->destroy(block->base);
  block->~DRefBlock();
  DBlockPool::FreeBlock(block);
}

void ThrowTooLarge() {
  throw DBadAlloc();
}

}  // namespace dref_detail
