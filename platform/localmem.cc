// Local memory blocks: a registry of live blocks keyed by handle, guarded by one mutex.
#include "platform/localmem.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct LocalBlock {
  void* data;   // the block's bytes (malloc'ed; at least one byte so the address is unique)
  SIZE_T size;  // bytes asked for
  UINT flags;   // LMEM_FIXED or LMEM_MOVEABLE
  UINT locks;   // LocalLock count of a moveable block
};

struct LocalRegistry {
  std::mutex mutex;
  std::unordered_map<void*, LocalBlock*> blocks;  // handle -> block
};

LocalRegistry& Registry() {
  static LocalRegistry* registry = new LocalRegistry;  // never destroyed: plug-ins may free late
  return *registry;
}

LocalBlock* Find(LocalRegistry& reg, HLOCAL mem) {
  auto it = reg.blocks.find(mem);
  return it == reg.blocks.end() ? nullptr : it->second;
}

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & ~(LMEM_MOVEABLE | LMEM_ZEROINIT)) != 0) return nullptr;
  auto* block = new (std::nothrow) LocalBlock{nullptr, bytes, flags & LMEM_MOVEABLE, 0};
  if (block == nullptr) return nullptr;
  block->data = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (block->data == nullptr) {
    delete block;
    return nullptr;
  }
  // A moveable block is known by its record's address, a fixed one by its data's address.
  HLOCAL handle = (block->flags & LMEM_MOVEABLE) ? static_cast<void*>(block) : block->data;
  LocalRegistry& reg = Registry();
  try {
    std::lock_guard<std::mutex> guard(reg.mutex);
    reg.blocks.emplace(handle, block);
  } catch (...) {
    std::free(block->data);
    delete block;
    return nullptr;
  }
  return handle;
}

LPVOID LocalLock(HLOCAL mem) {
  LocalRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  LocalBlock* block = Find(reg, mem);
  if (block == nullptr) return nullptr;
  if (block->flags & LMEM_MOVEABLE) ++block->locks;
  return block->data;
}

BOOL LocalUnlock(HLOCAL mem) {
  LocalRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  LocalBlock* block = Find(reg, mem);
  if (block == nullptr || block->locks == 0) return FALSE;
  return --block->locks > 0 ? TRUE : FALSE;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (mem == nullptr) return nullptr;
  LocalBlock* block;
  {
    LocalRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.mutex);
    auto it = reg.blocks.find(mem);
    if (it == reg.blocks.end()) return mem;
    block = it->second;
    reg.blocks.erase(it);
  }
  std::free(block->data);
  delete block;
  return nullptr;
}

SIZE_T LocalSize(HLOCAL mem) {
  LocalRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.mutex);
  LocalBlock* block = Find(reg, mem);
  return block == nullptr ? 0 : block->size;
}
