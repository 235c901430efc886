// The File unit.
#include "shell/cfilemanager.h"

#include <climits>
#include <cstring>

#include "base/dpath.h"
#include "base/dstring.h"
#include "vm/script_loader.h"
#include "vm/script_task.h"

namespace {

bool IsLeadByte(uint8_t c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The path cut to 263 bytes with forward slashes.
void CopySlashPath(char* out, const char* path) {
  DString::CopyTo(DString(path), out, 264);
  DConvSlashPath(out);
}

}  // namespace

bool FileAbsolutePath(char* out, const char* path) {
  out[0] = '\0';
  if (!path || strnlen(path, 264) > 263) return false;
  const DRef<ScriptTask>& task = CurrentTask();
  const char* base = task ? task->directory : GetProgramDirectory();
  DStringBuffer resolved = DGetAbsolutePath(DString(path), DString(base));
  const uint32_t length = resolved.GetLength();
  if (length > 263) return false;
  CopySlashPath(out, resolved.GetText());
  if (length < 263) return true;
  // The resolver cuts its result at 263 bytes. A result of that length kept the whole path only
  // when it ends with the path's own text after any drive, which the result keeps in front (a
  // cut one with a drive comes out longer than 263), and any leading "."-only segments, which
  // climb.
  char tail[264];
  CopySlashPath(tail, path);
  const char* rest = tail;
  const char letter = rest[0];
  if (((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && rest[1] == ':') rest += 2;
  for (;;) {
    const char* p = rest;
    while (*p == '.') ++p;
    if (p == rest || *p != '/') break;
    rest = p + 1;
  }
  const size_t n = std::strlen(rest);
  if (n <= length && std::memcmp(out + length - n, rest, n) == 0) return true;
  out[0] = '\0';
  return false;
}

// ---- Script files.

bool CScriptFile::Sync() {
  unread_ = 0;
  offset_ = 0;
  if (file_.Seek(DFile::kSeekStart, position_)) return true;
  flags_ |= kError;
  return false;
}

void CScriptFile::SyncEntry() {
  if (!entry_) {
    Sync();
    return;
  }
  for (auto it = entry_->files.Begin(); !(it == entry_->files.End()); it = it.Next()) it.Value()->Sync();
}

int64_t CScriptFile::Refill() {
  if (offset_ != 0 && unread_ != 0) std::memmove(buffer_, buffer_ + offset_, unread_);
  offset_ = 0;
  if (unread_ >= kBufferSize) return 0;
  // Bytes past the largest position are never buffered, so consuming them cannot wrap the
  // position: a file longer than that reads as if it ended there.
  const int64_t room = static_cast<int64_t>(INT32_MAX) - position_ - unread_;
  if (room <= 0) return 0;
  const uint32_t want = static_cast<uint32_t>(room < kBufferSize - unread_ ? room : kBufferSize - unread_);
  int64_t n = file_.Read(buffer_ + unread_, want);
  if (n > 0) unread_ += static_cast<uint32_t>(n);
  return n;
}

const char* CScriptFile::ReadText(bool line_mode) {
  if ((flags_ & kError) || !(flags_ & kReadable)) return nullptr;
  const uint8_t term = line_mode ? 0x0A : 0x00;
  // Kept text bytes are packed down to w as the scan (r) passes removed control bytes, so the
  // work stays linear; the gap is closed before each refill.
  uint32_t r = 0, w = 0;
  bool lone_lead = false;
  for (;;) {
    uint8_t* b = buffer_ + offset_;
    lone_lead = false;
    while (r < unread_) {
      if (w == r) {
        // Plain single-byte text before any removal: nothing to move.
        while (r < unread_ && b[r] >= 0x20 && b[r] < 0x81) ++r;
        w = r;
        if (r == unread_) break;
      }
      uint8_t c = b[r];
      if (c == 0 || c == term) {
        b[w] = 0;
        offset_ += r + 1;
        unread_ -= r + 1;
        position_ += static_cast<int32_t>(r + 1);
        return reinterpret_cast<const char*>(b);
      }
      if (c < 0x20 && c != 0x09 && c != 0x0A) {
        ++r;  // control bytes and CR vanish
        continue;
      }
      if (IsLeadByte(c)) {
        if (r + 1 >= unread_) {
          lone_lead = true;
          break;
        }
        b[w++] = b[r++];
      }
      b[w++] = b[r++];
    }
    if (w < r) {
      std::memmove(b + w, b + r, unread_ - r);
      unread_ -= r - w;
      position_ += static_cast<int32_t>(r - w);
      r = w;
    }
    if (Refill() > 0) continue;
    // Nothing more can be buffered: the end of the file, or a full buffer without terminator.
    uint8_t* t = buffer_;  // Refill moved the unread bytes to the start
    if (unread_ == 0) {
      flags_ |= kError;
      Sync();
      return nullptr;
    }
    uint32_t text, consumed;
    if (unread_ == kBufferSize) {
      text = consumed = kBufferSize - 1;  // the last byte is read again next time
    } else if (lone_lead) {
      text = unread_ - 1;  // a lead byte ends the file: it is consumed, not returned
      consumed = unread_;
    } else {
      text = consumed = unread_;
    }
    t[text] = 0;
    position_ += static_cast<int32_t>(consumed);
    unread_ = 0;
    offset_ = 0;
    if (!file_.Seek(DFile::kSeekStart, position_)) flags_ |= kError;
    return reinterpret_cast<const char*>(t);
  }
}

bool CScriptFile::Read(void* destination, int32_t count) {
  if ((flags_ & kError) || !(flags_ & kReadable)) return false;
  if (count < 0) {
    flags_ |= kError;
    return false;
  }
  uint32_t n = static_cast<uint32_t>(count);
  if (unread_ < n) Refill();
  if (unread_ < n) {
    flags_ |= kError;
    return false;
  }
  if (n) std::memcpy(destination, buffer_ + offset_, n);
  offset_ += n;
  unread_ -= n;
  position_ += count;
  return true;
}

bool CScriptFile::Write(const void* source, int32_t count) {
  SyncEntry();
  if ((flags_ & kError) || !(flags_ & kWritable)) return false;
  if (count < 0 || static_cast<int64_t>(position_) + count > INT32_MAX) {
    flags_ |= kError;
    return false;
  }
  int64_t written = count ? file_.Write(source, static_cast<uint32_t>(count)) : 0;
  if (written < 0) {
    flags_ |= kError;
    return false;
  }
  position_ += static_cast<int32_t>(written);
  SyncEntry();
  if (written < count) {
    flags_ |= kError;
    return false;
  }
  return true;
}

bool CScriptFile::WriteText(const char* text, bool line_mode) {
  size_t len = text ? std::strlen(text) : 0;
  if (len > INT32_MAX - 1) return false;
  if (!line_mode) return Write(text ? text : "", static_cast<int32_t>(len + 1));
  // The text and a lone LF in one write.
  DRef<char> line;
  line.Alloc(static_cast<uint32_t>(len + 1));
  if (len) std::memcpy(line.Get(), text, len);
  line[len] = '\n';
  return Write(line.Get(), static_cast<int32_t>(len + 1));
}

bool CScriptFile::Seek(int32_t offset, int32_t origin) {
  if (flags_ & kError) return false;
  int64_t target;
  switch (origin) {
    case 0:
      target = offset;
      break;
    case 1:
      target = static_cast<int64_t>(position_) + offset;
      break;
    case 2: {
      int64_t size = file_.GetSize();
      if (size < 0 || offset > 0) {
        flags_ |= kError;
        return false;
      }
      target = size + offset;
      break;
    }
    default:
      flags_ |= kError;
      return false;
  }
  if (target < 0 || target > INT32_MAX) {
    flags_ |= kError;
    return false;
  }
  position_ = static_cast<int32_t>(target);
  // A move the file refuses (past an archive member's end) fails, with the error flag set.
  return Sync();
}

int32_t CScriptFile::Tell() {
  if (flags_ & kError) return -1;
  if (position_ < 0) {
    flags_ |= kError;
    return -1;
  }
  return position_;
}

int32_t CScriptFile::GetSize() {
  if (flags_ & kError) return -1;
  int64_t size = file_.GetSize();
  if (size < 0 || size > INT32_MAX) {
    flags_ |= kError;
    return -1;
  }
  return static_cast<int32_t>(size);
}

bool CScriptFile::Chop() {
  if (flags_ & kError) return false;
  if (!file_.Seek(DFile::kSeekStart, position_) || !file_.SetEnd()) {
    flags_ |= kError;
    unread_ = offset_ = 0;
    return false;
  }
  unread_ = offset_ = 0;
  return true;
}

void CScriptFile::Rewind() {
  flags_ &= ~kError;
  position_ = 0;
  Sync();
}

bool CScriptFile::Close() {
  if (!owner_) return false;
  CFileEntry* entry = entry_;
  CFileManager* owner = owner_;
  owner_ = nullptr;
  entry_ = nullptr;
  file_.Close();
  unread_ = offset_ = 0;
  if (entry) {
    for (auto it = entry->files.Begin(); !(it == entry->files.End()); it = it.Next()) {
      if (it.Value().Get() == this) {
        entry->files.Erase(it);
        break;
      }
    }
    if (entry->files.IsEmpty()) owner->RemoveEntry(entry);
  }
  return true;
}

// ---- Manager.

bool CFileManager::Start() {
  if (started_) return false;
  started_ = 1;
  return true;
}

bool CFileManager::Term() {
  if (!started_) return false;
  started_ = 0;
  CloseAll();
  entries_.Clear();
  return true;
}

void CFileManager::CloseAll() {
  while (!entries_.IsEmpty()) {
    DRef<CFileEntry> e = entries_.Front();
    while (!e->files.IsEmpty()) {
      DRef<CScriptFile> f = e->files.Front();
      if (!f->Close()) e->files.Erase(e->files.Begin());
    }
    RemoveEntry(e.Get());
  }
}

void CFileManager::RemoveEntry(CFileEntry* entry) {
  for (auto it = entries_.Begin(); !(it == entries_.End()); it = it.Next()) {
    if (it.Value().Get() == entry) {
      entries_.Erase(it);
      return;
    }
  }
}

void CFileManager::Open(DRef<CScriptFile>* out, const char* path, const DRef<DDataFile>& archive,
                        int32_t mode) {
  out->Release();
  // An empty path names no file; one of 264 bytes or more would be cut into another name.
  if (!started_ || !path || !path[0] || strnlen(path, 264) > 263) return;
  // A disk path whose absolute form is longer than 263 bytes is refused below, never cut and
  // opened as another file; an archive member is named by the caller's path itself.
  char absolute[264];
  const bool too_long = !FileAbsolutePath(absolute, path);
  if (too_long) {
    const DRef<ScriptTask>& task = CurrentTask();
    const char* base = task ? task->directory : GetProgramDirectory();
    CopySlashPath(absolute, DGetAbsolutePath(DString(path), DString(base)).GetText());
  }

  DRef<CFileEntry> entry;
  for (auto it = entries_.Begin(); !(it == entries_.End()); it = it.Next()) {
    if (DString::CompareNoCase(DString(it.Value()->path), DString(absolute)) == 0) {
      entry = it.Value();
      break;
    }
  }
  const bool new_entry = !entry;
  if (new_entry) {
    entry.Alloc(1);
    std::memcpy(entry->path, absolute, sizeof(absolute));
  }

  uint32_t dmode = 0;
  if (mode & 1) dmode |= DFile::kRead;
  if (mode & 2) dmode |= DFile::kWrite | DFile::kOpenAlways;
  if (mode & 4) dmode |= DFile::kCreateNew;

  DRef<CScriptFile> file;
  file.Alloc(1);
  if (archive && !(dmode & (DFile::kWrite | DFile::kCreateNew))) {
    char member[264];
    CopySlashPath(member, path);
    if (!archive->OpenMember(DString(member), file->file_)) return;
  } else if (too_long || !file->file_.Open(DString(absolute), dmode)) {
    return;
  }
  file->flags_ = ((mode & 1) ? CScriptFile::kReadable : 0) | ((mode & 2) ? CScriptFile::kWritable : 0);
  file->owner_ = this;
  file->entry_ = entry.Get();
  file->position_ = 0;
  file->file_.Seek(DFile::kSeekStart, 0);
  entry->files.PushBack(DRef<CScriptFile>().Attach(file.Get()));
  if (new_entry) entries_.PushBack(entry);
  *out = file;
}

CFileManager& FileManager() {
  static CFileManager* m = new CFileManager;
  return *m;
}
bool StartFileUnit() {
  return FileManager().Start();
}
void StopFileUnit() {
  FileManager().Term();
}
