// DFile: disk files through the platform's file handles, memory files, and views of both.
#include "base/dfile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint64_t kMaxPosition = 0xFFFFFFFFu;

void CopyName(char (&target)[264], const char* source) {
  size_t n = source ? strnlen(source, 263) : 0;
  std::memcpy(target, source ? source : "", n);
  target[n] = '\0';
}

// Unlocks a file's lock at the end of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(DLock* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  ~ScopedLock() {
    if (lock_) lock_->Leave();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  DLock* lock_;
};

}  // namespace

DFile::DFile(const DFile& other) : DObject() {
  OpenView(other, 0, kToEnd);
}

DFile& DFile::operator=(const DFile& other) {
  if (this == &other) return *this;
  Close();
  OpenView(other, 0, kToEnd);
  return *this;
}

DFile::~DFile() {
  Close();
}

bool DFile::Open(const DString& name, uint32_t mode) {
  if (IsOpen() || !name.Get()) return false;
  DWORD access = ((mode & kRead) ? GENERIC_READ : 0) | ((mode & kWrite) ? GENERIC_WRITE : 0);
  DWORD creation = OPEN_EXISTING;
  switch (mode & (kOpenAlways | kCreateNew)) {
    case kOpenAlways:
      creation = OPEN_ALWAYS;
      break;
    case kCreateNew:
      creation = CREATE_NEW;
      break;
    case kOpenAlways | kCreateNew:
      creation = CREATE_ALWAYS;
      break;
  }
  HANDLE h = CreateFileA(name.Text(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Close();
    return false;
  }
  DRef<DFileHandle> record;
  DRef<DLock> lock;
  try {
    record.Alloc(1);
    lock.Alloc(1);
  } catch (...) {
    CloseHandle(h);
    throw;
  }
  record->handle = h;
  handle_ = record;
  lock_ = lock;
  position_ = 0;
  view_start_ = 0;
  view_size_ = kToEnd;
  CopyName(name_, name.Text());
  return true;
}

bool DFile::OpenMemory(const DString& name, uint32_t size, uint32_t mode) {
  if (IsOpen() || size == 0) return false;
  DRef<char> block;
  DRef<DLock> lock;
  block.Alloc(size);
  lock.Alloc(1);
  memory_ = block;
  lock_ = lock;
  position_ = 0;
  view_start_ = 0;
  view_size_ = kToEnd;
  memory_size_ = size;
  memory_capacity_ = size;
  memory_mode_ = mode;
  CopyName(name_, name.Get() ? name.Get() : "(In Memory)");
  return true;
}

bool DFile::OpenMemory(uint32_t size, uint32_t mode) {
  return OpenMemory(DString(), size, mode);
}

bool DFile::OpenView(const DFile& source, int64_t offset, uint32_t size) {
  if (IsOpen() || !source.IsOpen() || &source == this) return false;
  DFile& src = const_cast<DFile&>(source);
  ScopedLock lock(src.lock_.Get());
  if (offset < 0) {
    offset = src.TellLocked();
    if (offset < 0) return false;
  }
  uint64_t start = uint64_t{src.view_start_} + static_cast<uint64_t>(offset);
  if (static_cast<uint64_t>(offset) > kMaxPosition || start > kMaxPosition) return false;
  uint32_t view_size = size;
  if (src.HasSize()) {
    // A view never reaches past its sized parent: an offset past the parent leaves 0 bytes.
    uint32_t remaining =
        static_cast<uint64_t>(offset) >= src.view_size_ ? 0 : src.view_size_ - static_cast<uint32_t>(offset);
    view_size = size == kToEnd ? remaining : std::min(remaining, size);
  }
  position_ = 0;
  view_start_ = static_cast<uint32_t>(start);
  view_size_ = view_size;
  handle_ = src.handle_;
  memory_ = src.memory_;
  memory_size_ = src.memory_size_;
  memory_capacity_ = src.memory_capacity_;
  memory_mode_ = src.memory_mode_;
  throw_ = src.throw_;
  std::memcpy(name_, src.name_, sizeof name_);
  lock_ = src.lock_;
  return true;
}

bool DFile::Close() {
  if (!IsOpen()) return false;
  // The OS handle closes when the last view drops its reference (see DFileHandle), so views
  // closed at once on several threads never leave it open.
  throw_ = 0;
  handle_.Release();
  memory_.Release();
  lock_.Release();
  memory_size_ = 0;
  memory_capacity_ = 0;
  memory_mode_ = 0;
  return true;
}

void DFile::Lock() const {
  if (lock_) lock_->Enter();
}

void DFile::Unlock() const {
  if (lock_) lock_->Leave();
}

bool DFile::SetOsPointer(uint64_t position) {
  LONG high = static_cast<LONG>(position >> 32);
  DWORD low = SetFilePointer(handle_->handle, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool DFile::SyncPosition() {
  if (IsDisk()) {
    if (HasSize() && position_ > view_size_) {
      position_ = view_size_;
      SetOsPointer(uint64_t{view_start_} + view_size_);
      return false;
    }
    if (!SetOsPointer(uint64_t{view_start_} + position_)) {
      SetOsPointer(uint64_t{view_start_} + position_);
      return false;
    }
    return true;
  }
  if (memory_) {
    if (HasSize() && position_ > view_size_) {
      position_ = view_size_;
      return false;
    }
    if (uint64_t{view_start_} + position_ > memory_size_) {
      position_ = view_start_ <= memory_size_ ? memory_size_ - view_start_ : 0;
      return false;
    }
    return true;
  }
  return false;
}

int64_t DFile::Read(void* buffer, uint32_t count) {
  if (!IsOpen()) return -1;
  int64_t result = -1;
  Lock();
  do {
    if (HasSize()) {
      if (position_ >= view_size_) break;
      count = static_cast<uint32_t>(std::min<uint64_t>(count, view_size_ - position_));
    }
    if (!SyncPosition()) break;
    uint64_t at = uint64_t{view_start_} + position_;
    if (IsDisk()) {
      // Positions are 32-bit: a read never moves the position past the last one.
      count = static_cast<uint32_t>(std::min<uint64_t>(count, kMaxPosition - at));
      OVERLAPPED where = {};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD got = 0;
      if (!ReadFile(handle_->handle, buffer, count, &got, &where)) break;
      position_ += got;
      result = got;
    } else {
      if (!(memory_mode_ & kRead) || at >= memory_size_) break;
      count = static_cast<uint32_t>(std::min<uint64_t>(count, memory_size_ - at));
      std::memcpy(buffer, memory_.Get() + at, count);
      position_ += count;
      result = count;
    }
  } while (false);
  bool raise = result < 0 && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return result;
}

int64_t DFile::Write(const void* buffer, uint32_t count) {
  if (!IsOpen()) return -1;
  int64_t result = -1;
  Lock();
  do {
    if (HasSize()) {
      if (position_ >= view_size_) break;
      count = static_cast<uint32_t>(std::min<uint64_t>(count, view_size_ - position_));
    }
    if (!SyncPosition()) break;
    uint64_t at = uint64_t{view_start_} + position_;
    if (IsDisk()) {
      if (at + count > kMaxPosition) break;  // the file would outgrow 32-bit positions
      OVERLAPPED where = {};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD put = 0;
      BOOL ok = WriteFile(handle_->handle, buffer, count, &put, &where);
      position_ += put;
      if (!ok) break;
      result = put;
    } else {
      if (!(memory_mode_ & kWrite) || at >= memory_size_) break;
      count = static_cast<uint32_t>(std::min<uint64_t>(count, memory_size_ - at));
      std::memcpy(memory_.Get() + at, buffer, count);
      position_ += count;
      result = count;
    }
  } while (false);
  bool raise = result < 0 && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return result;
}

int64_t DFile::UnderlyingSize() {
  if (IsDisk()) {
    DWORD high = 0;
    DWORD low = GetFileSize(handle_->handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return static_cast<int64_t>((uint64_t{high} << 32) | low);
  }
  return memory_size_;
}

bool DFile::Seek(int origin, int64_t offset) {
  if (!IsOpen()) return false;
  Lock();
  const int64_t p = position_;
  const int64_t s = view_start_;
  const int64_t v = view_size_;
  const bool sized = HasSize();
  const bool memory = !IsDisk();
  const int64_t m = memory_size_;
  const int64_t memory_end = std::max<int64_t>(m - s, 0);
  int64_t target = p;
  bool ok = false;
  bool known = true;
  switch (origin) {
    case kSeekStart:
      if (offset < 0) {
        target = 0;
      } else if (sized && offset > v) {
        target = v;
      } else if (memory && s + offset > m) {
        target = memory_end;
      } else {
        target = offset;
        ok = true;
      }
      break;
    case kSeekCurrent:
      if (sized && offset >= 0 && p + offset > v) {
        target = v;
      } else if (offset < 0 && p < -offset) {
        target = 0;
      } else if (memory && s + p + offset > m) {
        target = memory_end;
      } else {
        target = p + offset;
        ok = true;
      }
      break;
    case kSeekEnd:
      if (offset > 0) {
        if (sized) {
          target = v;
        } else {
          int64_t end = UnderlyingSize();
          target = end < 0 ? p : std::max<int64_t>(end - s, 0);
        }
      } else if (sized && -offset > v) {
        target = 0;
      } else if (sized) {
        target = v + offset;
        ok = true;
      } else {
        int64_t end = UnderlyingSize();
        if (end < 0) {
          target = p;
        } else if (end + offset - s < 0) {
          target = memory ? 0 : p;  // before the start
        } else {
          target = end + offset - s;
          ok = true;
        }
      }
      break;
    default:
      known = false;
      break;
  }
  if (known) {
    // Positions are 32-bit: a target that does not fit fails and keeps the position.
    if (target < 0 || s + target > static_cast<int64_t>(kMaxPosition)) {
      target = p;
      ok = false;
    }
    if (!memory && !SetOsPointer(static_cast<uint64_t>(s + target))) {
      SetOsPointer(static_cast<uint64_t>(s + p));
      target = p;
      ok = false;
    }
    position_ = static_cast<uint32_t>(target);
  }
  bool raise = !ok && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return ok;
}

int64_t DFile::TellLocked() {
  if (!SyncPosition()) return -1;
  if (IsDisk()) {
    LONG high = 0;
    DWORD low = SetFilePointer(handle_->handle, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    int64_t os = static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);
    return os - view_start_;
  }
  return position_;
}

int64_t DFile::Tell() {
  if (!IsOpen()) return -1;
  Lock();
  int64_t result = TellLocked();
  bool raise = result < 0 && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return result;
}

int64_t DFile::GetSize() {
  if (!IsOpen()) return -1;
  Lock();
  int64_t result;
  if (HasSize()) {
    result = view_size_;
  } else {
    result = UnderlyingSize();
    if (result >= 0) result = std::max<int64_t>(result - view_start_, 0);
  }
  bool raise = result < 0 && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return result;
}

bool DFile::SetEnd() {
  if (!IsOpen()) return false;
  Lock();
  bool ok;
  uint64_t end = uint64_t{view_start_} + position_;
  if (IsDisk()) {
    // Truncates at this view's own position, not wherever another view left the handle.
    ok = SetOsPointer(end) && SetEndOfFile(handle_->handle);
  } else {
    ok = end <= memory_capacity_;
    if (ok) memory_size_ = static_cast<uint32_t>(end);
  }
  Unlock();
  return ok;
}

bool DFile::Flush() {
  if (!IsOpen()) return false;
  Lock();
  bool ok = IsDisk() ? FlushFileBuffers(handle_->handle) != FALSE : true;
  bool raise = !ok && throw_;
  Unlock();
  if (raise) throw DExceptFile();
  return ok;
}

bool DFile::GetThrow() {
  Lock();
  bool value = throw_ != 0;
  Unlock();
  return value;
}

bool DFile::SetThrow(bool enable) {
  Lock();
  bool previous = throw_ != 0;
  throw_ = enable ? 1 : 0;
  Unlock();
  return previous;
}

void DFile::ThrowIfEnabled() {
  if (GetThrow()) throw DExceptFile();
}

void DFile::SetName(const DString& name) {
  CopyName(name_, name.Get());
}
