// DFile: the library's file: a disk file, a memory block used as a file, or a view of either.
#pragma once

#include <cstdint>

#include "base/dexcept.h"
#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dstring.h"
#include "platform/kernel.h"

// The OS handle of an opened disk file, shared by its views; the last view to let go of it
// closes it, whichever thread that happens on.
struct DFileHandle {
  DFileHandle() = default;
  DFileHandle(const DFileHandle&) = delete;
  DFileHandle& operator=(const DFileHandle&) = delete;
  ~DFileHandle() {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  HANDLE handle = nullptr;
};

// A file opened by mode bits, a memory block used as a file, or a view (a window with its own
// start and size) on a file already open. All views of one opened file share its handle (or
// memory block) and one lock, and every transfer happens at the view's own position, so views
// can be used side by side and from several threads.
//
// Failures are reported by the results (false, or -1 for counts, positions and sizes). With the
// throw flag set, failing Read, Write, Seek, Tell, GetSize and Flush also throw DExceptFile;
// opening, closing and SetEnd never throw, and nothing throws on a file that is not open.
// A short read is not a failure: Read returns the smaller count.
class DFile : public DObject {
 public:
  // Mode bits of Open and OpenMemory.
  static constexpr uint32_t kRead = 1;
  static constexpr uint32_t kWrite = 2;
  static constexpr uint32_t kOpenAlways = 4;  // alone: open, or create when missing
  static constexpr uint32_t kCreateNew = 8;   // alone: create, failing when it exists
  // 4 and 8 together: create, replacing any existing file; neither: the file must exist.

  // Origins of Seek.
  static constexpr int kSeekStart = 1;
  static constexpr int kSeekCurrent = 2;
  static constexpr int kSeekEnd = 4;

  // A view size meaning "up to the end of the underlying file".
  static constexpr uint32_t kToEnd = 0xFFFFFFFFu;

  DFile() = default;
  // A whole view of the other file (closed when the other is closed).
  DFile(const DFile& other);
  // Closes this file and becomes a whole view of the other.
  DFile& operator=(const DFile& other);
  ~DFile() override;

  // Opens a disk file (a cp932 path) by mode bits. False when already open or on failure.
  bool Open(const DString& name, uint32_t mode);
  // Makes a memory file of size bytes (contents undefined) that never grows; mode bit 1 allows
  // reads, bit 2 writes. A null name gives "(In Memory)". False when already open or size is 0.
  bool OpenMemory(const DString& name, uint32_t size, uint32_t mode);
  bool OpenMemory(uint32_t size, uint32_t mode);
  // Makes this (closed) file a view of size bytes of the source, starting offset bytes into the
  // source's view (a negative offset: at the source's current position). The view never reaches
  // past a sized source view. It shares the source's handle or block, lock, name and throw flag.
  bool OpenView(const DFile& source, int64_t offset, uint32_t size);
  // Closes this view; the underlying file closes with its last view. False when not open.
  bool Close();

  // Bytes read (0 at the end of a whole disk file), or -1.
  int64_t Read(void* buffer, uint32_t count);
  // Bytes written, or -1. A whole disk file grows; a view or a memory file never does.
  int64_t Write(const void* buffer, uint32_t count);
  // Moves the position (origin kSeekStart, kSeekCurrent or kSeekEnd); a move outside the view
  // clamps the position to the nearer end and fails.
  bool Seek(int origin, int64_t offset);
  // The position from the view's start, or -1.
  int64_t Tell();
  // Bytes in the view, or -1.
  int64_t GetSize();
  // Cuts the underlying file at this view's position.
  bool SetEnd();
  // Writes a disk file's data through to the disk.
  bool Flush();

  bool GetThrow();
  // Sets the throw flag and returns its previous value.
  bool SetThrow(bool enable);
  // Throws DExceptFile when the throw flag is set.
  void ThrowIfEnabled();

  // Stores the name, cut to 263 bytes.
  void SetName(const DString& name);
  const char* GetName() const { return name_; }
  bool IsOpen() const { return handle_ || memory_; }

 private:
  bool IsDisk() const { return static_cast<bool>(handle_); }
  bool HasSize() const { return view_size_ != kToEnd; }
  // Brings the position inside the view and the underlying file (under the lock).
  bool SyncPosition();
  // Moves the handle's file pointer; false on failure.
  bool SetOsPointer(uint64_t position);
  // The underlying file's size (the memory size for a memory file), or -1.
  int64_t UnderlyingSize();
  int64_t TellLocked();
  void Lock() const;
  void Unlock() const;

  uint32_t position_ = 0;         // from the view's start
  uint32_t view_start_ = 0;       // first byte of the view in the underlying file
  uint32_t view_size_ = kToEnd;   // bytes in the view, or kToEnd
  uint8_t throw_ = 0;             // failing operations throw DExceptFile
  char name_[264] = {};           // the file's name
  DRef<DFileHandle> handle_;      // OS handle, shared by the views of one disk file
  DRef<char> memory_;             // block of a memory file, shared by its views
  uint32_t memory_mode_ = 0;      // mode bits of the memory file
  uint32_t memory_size_ = 0;      // bytes of data in the block
  uint32_t memory_capacity_ = 0;  // bytes allocated in the block
  DRef<DLock> lock_;              // shared by all views of one opened file
};
