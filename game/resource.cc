// Resource records and the wrappers that make them.
#include "game/resource.h"

#include "game/engine_api.h"
#include "game/error_report.h"

DFileRes::~DFileRes() {
  if (handle) {
    g_engine.ovDestroyFile(handle);
    handle = nullptr;
  }
}

DRef<DFileRes> OpenFileRes(const char* path, int32_t mode) {
  DRef<DFileRes> file;
  file.Alloc(1);
  file->handle = g_engine.ovCreateFile(path, mode);
  if (!file->handle) ScriptError("ファイル \"%s\" が開けません。", path);
  return file;
}
