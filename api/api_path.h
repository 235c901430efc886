// Where the loaders and file operations of built-ins and exports find the file a script or
// plug-in names: a member of the mounted data-file archive, or a disk file resolved against the
// running task's directory (the program's when no task runs).
#pragma once

#include "api/api_common.h"
#include "base/dfile.h"

// The path a loader opens. With an archive mounted: the caller's path unresolved, its "\"
// separators made "/" (`in_archive` true). Otherwise the absolute disk path. False, with `out`
// empty, for a null path, a path of 264 bytes or more, or an absolute form longer than 263
// bytes: a path is never cut into the name of another file.
bool ApiResolvePath(const char* path, char* out /* kApiPathSize bytes */, bool* in_archive);

// The disk half alone: the absolute path against the running task's directory (the program's when
// no task runs), whether or not an archive is mounted, by the File unit's rule (FileAbsolutePath:
// "/" separators throughout). False, with `out` empty, on the same conditions as ApiResolvePath.
bool ApiAbsolutePath(const char* path, char* out /* kApiPathSize bytes */);

// Opens `path` for reading as ApiResolvePath finds it: the archive member when an archive is
// mounted (the disk is not searched then), else the disk file. False when it cannot be opened.
bool ApiOpenPath(const char* path, DFile& file);
