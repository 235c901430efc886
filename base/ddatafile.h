// DDataFile: the KMF data-file archive: mounting, member lookup and views, building and saving.
//
// Layout (all numbers u32 little-endian; offsets from the archive file's first byte):
//   "KMF " | count | count directory records | member data
//   record: name length (0-263) | name bytes (no NUL) | offset | size
// A size of 0xFFFFFFFF makes the member reach to the end of the archive file. The writer stores
// folded names (ASCII upper case made lower case, double-byte characters unchanged) and puts the
// members back to back right after the directory.
#pragma once

#include <cstdint>
#include <functional>

#include "base/dfile.h"
#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dreflist.h"
#include "base/dstring.h"

// One member: its folded name, bucket and a view of its bytes. Owned by the archive's list.
struct DDataFileMember {
  uint32_t name_length = 0;         // bytes of the folded name
  char name[264] = {};              // the folded name, NUL-terminated
  uint32_t hash = 0;                // bucket 0-255
  DFile view;                       // the member's bytes
  DDataFileMember* next = nullptr;  // next record of the same bucket (not owned)
};

// One directory record as stored in the archive.
struct DDataFileEntry {
  uint32_t name_length = 0;
  char name[264] = {};  // folded when read
  uint32_t offset = 0;
  uint32_t size = 0;
};

// The archive. Lookups, member opens and reads through member views may run on several threads;
// mounting, unmounting and destroying the archive must not run while other threads use it.
class DDataFile : public DObject {
 public:
  // Called by Save with (bytes copied so far, total bytes of all members).
  using Progress = std::function<void(uint32_t copied, uint32_t total)>;

  DDataFile() = default;
  DDataFile(const DDataFile&) = delete;
  DDataFile& operator=(const DDataFile&) = delete;
  ~DDataFile() override;

  // Reads the directory of an open archive file; every member becomes a view on it. Each record
  // is checked against the archive's size. False on a damaged archive (leaving it unmounted) and
  // when already mounted (which unmounts it). When the source's throw flag is set, read failures
  // throw DExceptFile instead of returning false.
  bool Mount(DFile& source);
  // Mount of the file at path, opened read-only; the members keep the file open.
  bool MountFile(const DString& path);
  // Starts an empty directory for building an archive; false when already mounted.
  bool Create();
  // Drops every member and the archive view; views handed out by OpenMember stay usable.
  bool Unmount();
  bool IsMounted() const { return mounted_ != 0; }

  // The member whose name equals the name ignoring ASCII case, or null. Valid until the member
  // is removed or the archive unmounted.
  DDataFileMember* Find(const DString& name);
  // Makes the closed target a whole view of the member's bytes.
  bool OpenMember(const DString& name, DFile& target);
  bool OpenMember(DDataFileMember* member, DFile& target);
  // Adds a member viewing the whole source (which stays open through the view). False when not
  // mounted or the name is taken.
  bool AddMember(const DString& name, DFile& source);
  bool RemoveMember(const DString& name);
  bool RemoveMember(DDataFileMember* member);
  // The member then views the whole source instead.
  bool ReplaceMember(const DString& name, DFile& source);
  bool ReplaceMember(DDataFileMember* member, DFile& source);
  // The member at an index of the directory order, or null.
  DDataFileMember* GetMember(uint32_t index);
  // The member's folded name ("" when not mounted).
  const char* GetMemberName(const DDataFileMember* member) const;
  // Writes the archive to the target from its start. False when not mounted or a transfer falls
  // short; when the target's throw flag is set such failures throw DExceptFile instead.
  bool Save(DFile& target, const Progress& progress = nullptr);

  // Makes ASCII upper-case letters lower case in place, stepping over double-byte characters.
  static void FoldName(char* text);
  // The sum of the bytes modulo 256.
  static uint32_t Hash(const char* folded);
  // Reads one directory record; a short read or a name length of 264 or more throws DExceptFile.
  static void ReadEntry(DFile& source, DDataFileEntry* record);
  // Writes one directory record; a short write throws DExceptFile.
  static void WriteEntry(DFile& target, const DDataFileEntry& record);

 private:
  void ClearBuckets();
  bool RemoveLocked(DDataFileMember* member);
  DDataFileMember* FindLocked(const char* name);

  uint8_t mounted_ = 0;                 // a directory is present
  DFile archive_;                       // whole view of the mounted archive file
  DLock lock_;                          // guards the member list and the buckets
  DRefList<DDataFileMember> members_;   // every member in directory order; owns them
  DDataFileMember* buckets_[256] = {};  // heads of the hash chains
};

// A watcher of member opens by name (the headless input script's file trace): the name asked for
// and whether the member opened; called outside the archive's lock. Null: none. Each module's copy
// of this code has its own watcher.
void SetMemberOpenWatcher(void (*watch)(const char* name, bool opened));
