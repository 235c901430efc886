// DDataFile: reading, looking up, building and writing KMF archives.
#include "base/ddatafile.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMaxName = 263;
constexpr uint32_t kToEnd = 0xFFFFFFFFu;

uint32_t GetU32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutU32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void ReadExactly(DFile& f, void* buffer, uint32_t n) {
  if (f.Read(buffer, n) != n) throw DExceptFile();
}

void WriteExactly(DFile& f, const void* buffer, uint32_t n) {
  if (f.Write(buffer, n) != n) throw DExceptFile();
}

// Copies text into a 264-byte name buffer (cut to 263 bytes), folds it and returns its length.
uint32_t FoldedCopy(char (&target)[264], const char* text) {
  size_t n = strnlen(text, kMaxName);
  std::memcpy(target, text, n);
  target[n] = '\0';
  DDataFile::FoldName(target);
  return static_cast<uint32_t>(n);
}

// Restores a file's throw flag when a scope ends, however it ends.
class ThrowFlagRestorer {
 public:
  ThrowFlagRestorer(DFile& file, bool flag) : file_(file), flag_(flag) {}
  ~ThrowFlagRestorer() { file_.SetThrow(flag_); }
  ThrowFlagRestorer(const ThrowFlagRestorer&) = delete;
  ThrowFlagRestorer& operator=(const ThrowFlagRestorer&) = delete;

 private:
  DFile& file_;
  bool flag_;
};

}  // namespace

DDataFile::~DDataFile() {
  Unmount();
}

void DDataFile::FoldName(char* text) {
  if (!text) return;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p;) {
    if (DIsLeadByte(*p)) {
      p += p[1] ? 2 : 1;
    } else {
      if (*p >= 'A' && *p <= 'Z') *p = static_cast<unsigned char>(*p + 0x20);
      ++p;
    }
  }
}

uint32_t DDataFile::Hash(const char* folded) {
  uint32_t sum = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(folded); p && *p; ++p) sum += *p;
  return sum % 256;
}

void DDataFile::ReadEntry(DFile& source, DDataFileEntry* record) {
  unsigned char word[8];
  ReadExactly(source, word, 4);
  uint32_t length = GetU32(word);
  if (length > kMaxName) throw DExceptFile();
  ReadExactly(source, record->name, length);
  record->name[length] = '\0';
  record->name_length = length;
  FoldName(record->name);
  ReadExactly(source, word, 8);
  record->offset = GetU32(word);
  record->size = GetU32(word + 4);
}

void DDataFile::WriteEntry(DFile& target, const DDataFileEntry& record) {
  uint32_t length = static_cast<uint32_t>(strnlen(record.name, kMaxName));
  unsigned char word[8];
  PutU32(word, length);
  WriteExactly(target, word, 4);
  if (length) WriteExactly(target, record.name, length);
  PutU32(word, record.offset);
  PutU32(word + 4, record.size);
  WriteExactly(target, word, 8);
}

void DDataFile::ClearBuckets() {
  for (auto& head : buckets_) head = nullptr;
}

bool DDataFile::Mount(DFile& source) {
  const bool caller_flag = source.GetThrow();
  if (mounted_) {
    Unmount();
    return false;
  }
  mounted_ = 1;
  ClearBuckets();
  source.SetThrow(true);
  bool ok = false;
  try {
    ok = [&] {
      const char* archive_name = source.GetName();
      source.Seek(DFile::kSeekStart, 0);
      int64_t archive_size = source.GetSize();
      unsigned char header[8];
      ReadExactly(source, header, 8);
      if (std::memcmp(header, "KMF ", 4) != 0) return false;
      uint32_t count = GetU32(header + 4);
      // Every record takes at least 12 bytes: a count the file cannot hold means a short
      // directory, which fails like the short read it would end in.
      if (uint64_t{count} * 12 > static_cast<uint64_t>(archive_size - 8)) throw DExceptFile();
      if (!archive_.OpenView(source, 0, kToEnd)) return false;
      for (uint32_t i = 0; i < count; ++i) {
        DDataFileEntry entry;
        ReadEntry(source, &entry);
        // Members lie inside the archive: offsets and sizes are taken unsigned and checked.
        if (entry.offset > archive_size) return false;
        if (entry.size != kToEnd && uint64_t{entry.offset} + entry.size > static_cast<uint64_t>(archive_size))
          return false;
        DFile view;
        if (!view.OpenView(source, entry.offset, entry.size)) return false;
        std::string view_name = std::string(archive_name) + " | " + entry.name;
        view.SetName(DString(view_name.c_str()));  // cut to 263 bytes
        view.SetThrow(caller_flag);
        if (!AddMember(DString(entry.name), view)) return false;
      }
      return true;
    }();
  } catch (const DExceptFile&) {
    Unmount();
    source.SetThrow(caller_flag);
    if (caller_flag) throw;
    return false;
  }
  if (!ok) Unmount();
  source.SetThrow(caller_flag);
  return ok;
}

bool DDataFile::MountFile(const DString& path) {
  DFile file;
  if (!file.Open(path, DFile::kRead)) return false;
  bool ok = Mount(file);
  file.Close();
  return ok;
}

bool DDataFile::Create() {
  if (mounted_) return false;
  ClearBuckets();
  mounted_ = 1;
  return true;
}

bool DDataFile::Unmount() {
  mounted_ = 0;
  lock_.Delete();
  members_.Clear();
  ClearBuckets();  // no chain may point at a destroyed record
  archive_.Close();
  return true;
}

DDataFileMember* DDataFile::FindLocked(const char* name) {
  char folded[264];
  uint32_t length = FoldedCopy(folded, name);
  for (DDataFileMember* m = buckets_[Hash(folded)]; m; m = m->next) {
    if (m->name_length == length && std::memcmp(m->name, folded, length) == 0) return m;
  }
  return nullptr;
}

DDataFileMember* DDataFile::Find(const DString& name) {
  if (!mounted_ || !name.Get()) return nullptr;
  DLockGuard guard(lock_);
  return FindLocked(name.Get());
}

namespace {
std::atomic<void (*)(const char*, bool)> g_member_watcher{nullptr};
}  // namespace

void SetMemberOpenWatcher(void (*watch)(const char* name, bool opened)) {
  g_member_watcher = watch;
}

bool DDataFile::OpenMember(const DString& name, DFile& target) {
  if (!mounted_ || !name.Get()) return false;
  bool opened;
  {
    DLockGuard guard(lock_);
    DDataFileMember* member = FindLocked(name.Get());
    opened = member && target.OpenView(member->view, 0, kToEnd);
  }
  if (auto watch = g_member_watcher.load()) watch(name.Get(), opened);
  return opened;
}

bool DDataFile::OpenMember(DDataFileMember* member, DFile& target) {
  if (!mounted_ || !member) return false;
  DLockGuard guard(lock_);
  return target.OpenView(member->view, 0, kToEnd);
}

bool DDataFile::AddMember(const DString& name, DFile& source) {
  if (!mounted_ || !name.Get()) return false;
  DLockGuard guard(lock_);
  if (FindLocked(name.Get())) return false;
  DRef<DDataFileMember> record;
  record.Alloc(1);
  record->name_length = FoldedCopy(record->name, name.Get());
  record->hash = Hash(record->name);
  if (!record->view.OpenView(source, 0, kToEnd)) return false;
  members_.PushBack(record);
  DDataFileMember** link = &buckets_[record->hash];
  while (*link) link = &(*link)->next;
  *link = record.Get();
  return true;
}

bool DDataFile::RemoveLocked(DDataFileMember* member) {
  DDataFileMember** link = &buckets_[member->hash % 256];
  while (*link && *link != member) link = &(*link)->next;
  if (!*link) return false;
  *link = member->next;
  for (auto it = members_.Begin(); !(it == members_.End()); it = it.Next()) {
    if (it.Value().Get() == member) {
      members_.Erase(it);
      break;
    }
  }
  return true;
}

bool DDataFile::RemoveMember(const DString& name) {
  if (!mounted_ || !name.Get()) return false;
  DLockGuard guard(lock_);
  DDataFileMember* member = FindLocked(name.Get());
  return member && RemoveLocked(member);
}

bool DDataFile::RemoveMember(DDataFileMember* member) {
  if (!mounted_ || !member) return false;
  DLockGuard guard(lock_);
  return RemoveLocked(member);
}

bool DDataFile::ReplaceMember(const DString& name, DFile& source) {
  if (!mounted_ || !name.Get()) return false;
  DLockGuard guard(lock_);
  DDataFileMember* member = FindLocked(name.Get());
  if (!member) return false;
  member->view.Close();
  return member->view.OpenView(source, 0, kToEnd);
}

bool DDataFile::ReplaceMember(DDataFileMember* member, DFile& source) {
  if (!mounted_ || !member) return false;
  DLockGuard guard(lock_);
  member->view.Close();
  return member->view.OpenView(source, 0, kToEnd);
}

DDataFileMember* DDataFile::GetMember(uint32_t index) {
  if (!mounted_) return nullptr;
  DLockGuard guard(lock_);
  if (index >= members_.GetCount()) return nullptr;
  auto it = members_.Begin();
  while (index--) it = it.Next();
  return it.Value().Get();
}

const char* DDataFile::GetMemberName(const DDataFileMember* member) const {
  return mounted_ && member ? member->name : "";
}

bool DDataFile::Save(DFile& target, const Progress& progress) {
  const bool caller_flag = target.GetThrow();
  if (!mounted_) {
    if (caller_flag) throw DExceptFile();
    return false;
  }
  DLockGuard guard(lock_);
  try {
    ThrowFlagRestorer restore(target, caller_flag);
    std::vector<DDataFileMember*> order;
    for (auto it = members_.Begin(); !(it == members_.End()); it = it.Next())
      order.push_back(it.Value().Get());
    uint32_t total = 0;
    if (progress) {
      for (DDataFileMember* m : order) total += static_cast<uint32_t>(m->view.GetSize());
    }
    target.SetThrow(true);
    target.Seek(DFile::kSeekStart, 0);
    unsigned char header[8];
    std::memcpy(header, "KMF ", 4);
    PutU32(header + 4, static_cast<uint32_t>(order.size()));
    WriteExactly(target, header, 8);
    int64_t directory = target.Tell();
    for (DDataFileMember* m : order) {
      DDataFileEntry entry;
      std::memcpy(entry.name, m->name, sizeof entry.name);
      WriteEntry(target, entry);
    }
    int64_t data = target.Tell();
    uint32_t copied = 0;
    unsigned char block[4096];
    for (DDataFileMember* m : order) {
      target.Seek(DFile::kSeekStart, data);
      if (!m->view.Seek(DFile::kSeekStart, 0)) throw DExceptFile();
      int64_t size = m->view.GetSize();
      if (size < 0) throw DExceptFile();
      DDataFileEntry entry;
      std::memcpy(entry.name, m->name, sizeof entry.name);
      entry.offset = static_cast<uint32_t>(data);
      entry.size = static_cast<uint32_t>(size);
      if (progress) progress(copied, total);
      for (uint32_t left = entry.size; left > 0;) {
        uint32_t n = left < sizeof block ? left : static_cast<uint32_t>(sizeof block);
        if (m->view.Read(block, n) != n) throw DExceptFile();
        WriteExactly(target, block, n);
        left -= n;
        copied += n;
        if (progress) progress(copied, total);
      }
      data = target.Tell();
      target.Seek(DFile::kSeekStart, directory);
      WriteEntry(target, entry);
      directory = target.Tell();
    }
  } catch (const DExceptFile&) {
    if (caller_flag) throw;
    return false;
  }
  return true;
}
