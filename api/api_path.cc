#include "api/api_path.h"

#include <cstring>

#include "base/ddatafile.h"
#include "base/dpath.h"
#include "shell/cfilemanager.h"
#include "shell/engine.h"

bool ApiAbsolutePath(const char* path, char* out) {
  // The File unit's rule, so that a loader and a file operation name the same disk file. An
  // empty result (no directory to resolve against) names no file.
  return FileAbsolutePath(out, path) && out[0] != '\0';
}

bool ApiResolvePath(const char* path, char* out, bool* in_archive) {
  out[0] = '\0';
  if (in_archive) *in_archive = false;
  if (path == nullptr || strnlen(path, kApiPathSize) >= kApiPathSize) return false;
  const DRef<DDataFile>& archive = MountedDataFile();
  if (archive && archive->IsMounted()) {
    DCopySlashPath(out, DString(path));
    if (in_archive) *in_archive = true;
    return true;
  }
  return ApiAbsolutePath(path, out);
}

bool ApiOpenPath(const char* path, DFile& file) {
  char resolved[kApiPathSize];
  bool in_archive = false;
  if (!ApiResolvePath(path, resolved, &in_archive) || resolved[0] == '\0') return false;
  if (in_archive) {
    const DRef<DDataFile>& archive = MountedDataFile();
    return archive && archive->OpenMember(DString(resolved), file);
  }
  return file.Open(DString(resolved), DFile::kRead);
}
