// The File unit: script files on disk or in the mounted archive, each with its own position and
// 1024-byte read buffer. Files open on one path are kept together, so that a write through one
// makes the others drop what they buffered.
#pragma once

#include <cstdint>

#include "base/ddatafile.h"
#include "base/dfile.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"

class CFileManager;
class CFileEntry;

class CScriptFile : public DObject {
 public:
  static constexpr uint32_t kError = 1;
  static constexpr uint32_t kReadable = 2;
  static constexpr uint32_t kWritable = 4;
  static constexpr uint32_t kBufferSize = 1024;

  ~CScriptFile() override { Close(); }

  // The next text (line mode: up to LF; string mode: up to NUL) in place in the buffer, valid
  // until the next call on this file; null at the end of the file or on failure.
  const char* ReadText(bool line_mode);
  bool Read(void* destination, int32_t count);
  bool ReadNumber(int32_t* value) { return Read(value, 4); }
  bool ReadFloat(float* value) { return Read(value, 4); }
  bool Write(const void* source, int32_t count);
  bool WriteNumber(int32_t value) { return Write(&value, 4); }
  bool WriteFloat(float value) { return Write(&value, 4); }
  bool WriteText(const char* text, bool line_mode);
  bool Seek(int32_t offset, int32_t origin);
  int32_t Tell();
  int32_t GetSize();
  bool Chop();
  void Rewind();
  bool Close();

  uint32_t Flags() const { return flags_; }
  bool IsAttached() const { return owner_ != nullptr; }

 private:
  friend class CFileManager;

  // Drops the buffer and moves the underlying file to the position; a failure sets the error flag.
  bool Sync();
  // Moves the unread bytes to the buffer's start and reads more after them; the count read.
  int64_t Refill();
  void SyncEntry();

  uint32_t flags_ = 0;
  CFileManager* owner_ = nullptr;
  CFileEntry* entry_ = nullptr;
  DFile file_;
  int32_t position_ = 0;
  uint8_t buffer_[kBufferSize + 1] = {};  // one byte more for the NUL after a last text
  uint32_t unread_ = 0;
  uint32_t offset_ = 0;
};

class CFileEntry : public DObject {
 public:
  char path[264] = {};
  DRefList<CScriptFile> files;  // references without control block
};

class CFileManager : public DObject {
 public:
  ~CFileManager() override { Term(); }

  bool Start();
  bool Term();
  void CloseAll();
  // Opens `path` by script mode (1 read, 2 write, 4 start empty); with an archive, read-only
  // opens take the archive member and never the disk. `out` is empty on failure.
  void Open(DRef<CScriptFile>* out, const char* path, const DRef<DDataFile>& archive, int32_t mode);

  bool IsStarted() const { return started_ != 0; }
  uint32_t EntryCount() const { return entries_.GetCount(); }

 private:
  friend class CScriptFile;
  void RemoveEntry(CFileEntry* entry);

  uint8_t started_ = 0;
  DRefList<CFileEntry> entries_;
};

// `path` made absolute against the running task's directory (the program's when none runs), with
// "/" separators, into 264 bytes (an empty path gives that directory). False (out empty) for a
// null path or one whose absolute form is longer than 263 bytes: such a path is refused, never
// cut into the name of another file.
bool FileAbsolutePath(char* out, const char* path);

CFileManager& FileManager();
bool StartFileUnit();
void StopFileUnit();
