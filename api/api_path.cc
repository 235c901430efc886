#include "api/api_path.h"

#include <cstring>

#include "base/ddatafile.h"
#include "base/dpath.h"
#include "shell/engine.h"

bool ApiAbsolutePath(const char* path, char* out) {
  out[0] = '\0';
  if (path == nullptr || strnlen(path, kApiPathSize) >= kApiPathSize) return false;
  const char* base = RunningDirectory();
  DStringBuffer absolute = DGetAbsolutePath(DString(path), DString(base));
  const char* text = absolute.GetText();
  if (text == nullptr) return false;
  // The resolver cuts at 263 bytes: a result that long from parts longer together may have been
  // cut, so it is refused rather than opened as another file.
  const size_t length = strnlen(text, kApiPathSize);
  const bool rooted = path[0] == '/' || path[0] == '\\' || (path[0] != '\0' && path[1] == ':');
  if (!rooted && length >= kApiPathSize - 1 && strlen(path) + strlen(base ? base : "") >= kApiPathSize - 1)
    return false;
  if (length >= kApiPathSize) return false;
  memcpy(out, text, length + 1);
  return true;
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
