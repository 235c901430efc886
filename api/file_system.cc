// Existence tests, copies and new directories: the built-ins IsFileExist, IsDirExist, CopyFile
// and CreateDir and their export twins. The built-ins see only the disk; with an archive mounted
// the existence exports see only the archive.
#include <cstring>
#include <string>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "api/ov_api.h"
#include "base/ddatafile.h"
#include "base/dpath.h"
#include "shell/cfilemanager.h"
#include "shell/engine.h"
#include "vm/dispatch.h"

namespace {

// The disk path of a file-system operation: the File unit's rule, so that "exists" and "opens"
// agree (never an archive member: these operations always act on the disk).
bool FileSystemDiskPath(const char* path, char* out /* kApiPathSize bytes */) {
  return FileAbsolutePath(out, path);
}

bool IsFileOnDisk(const char* path) {
  char disk[kApiPathSize];
  return FileSystemDiskPath(path, disk) && DIsFile(DString(disk));
}

bool IsDirOnDisk(const char* path) {
  char disk[kApiPathSize];
  return FileSystemDiskPath(path, disk) && DIsDir(DString(disk));
}

// Both paths absolute; the destination's directory is made when missing and an existing
// destination is overwritten. Copying a file onto itself fails and keeps its bytes.
bool CopyOnDisk(const char* source, const char* destination) {
  char from[kApiPathSize], to[kApiPathSize];
  if (!FileSystemDiskPath(source, from) || !FileSystemDiskPath(destination, to)) return false;
  return DCopyFile(DString(from), DString(to));
}

// Every missing level is made; an existing directory gives true at once.
bool CreateDirOnDisk(const char* path) {
  char disk[kApiPathSize];
  return FileSystemDiskPath(path, disk) && DCreateDir(DString(disk));
}

// The mounted archive, or null.
DDataFile* Mounted() {
  DRef<DDataFile>& archive = MountedDataFile();
  return archive && archive->IsMounted() ? archive.Get() : nullptr;
}

// With an archive mounted: whether it holds a member named by the caller's path with "\" made
// "/" (a double-byte character keeps a 0x5C trail byte).
bool IsArchiveMember(DDataFile& archive, const char* path) {
  if (path == nullptr || strnlen(path, kApiPathSize) >= kApiPathSize) return false;
  char member[kApiPathSize];
  DCopySlashPath(member, DString(path));
  return archive.Find(DString(member)) != nullptr;
}

// ---- Built-ins. A path is the argument's whole text: a longer one fails instead of being cut.

bool BiIsFileExist(ScriptContext* ctx) {
  ctx->result()->SetBool(IsFileOnDisk(ctx->GetArg(1)->ToStaticString()));
  return false;
}
bool BiIsDirExist(ScriptContext* ctx) {
  ctx->result()->SetBool(IsDirOnDisk(ctx->GetArg(1)->ToStaticString()));
  return false;
}
bool BiCopyFile(ScriptContext* ctx) {
  const std::string source = ctx->GetArg(1)->ToStaticString();
  ctx->result()->SetBool(CopyOnDisk(source.c_str(), ctx->GetArg(2)->ToStaticString()));
  return false;
}
bool BiCreateDir(ScriptContext* ctx) {
  ctx->result()->SetBool(CreateDirOnDisk(ctx->GetArg(1)->ToStaticString()));
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallFileSystemBuiltins() {
  SetVmBuiltin(125, Guarded<BiCreateDir>);
  SetVmBuiltin(126, Guarded<BiCopyFile>);
  SetVmBuiltin(129, Guarded<BiIsFileExist>);
  SetVmBuiltin(130, Guarded<BiIsDirExist>);
}

// ---- Exports.

int32_t ovIsFileExist(const char* path) noexcept {
  try {
    if (DDataFile* archive = Mounted()) return IsArchiveMember(*archive, path) ? 1 : 0;
    return IsFileOnDisk(path) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// With an archive mounted nothing is a directory: no member is one, and the disk is not asked.
int32_t ovIsDirExist(const char* path) noexcept {
  try {
    if (Mounted()) return 0;
    return IsDirOnDisk(path) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovCopyFile(const char* source, const char* destination) noexcept {
  try {
    return CopyOnDisk(source, destination) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t ovCreateDir(const char* path) noexcept {
  try {
    return CreateDirOnDisk(path) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
