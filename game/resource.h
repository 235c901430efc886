// Resource records: engine objects owned by shared records whose last release destroys them.
#pragma once

#include <cstdint>

#include "api/ov_api.h"
#include "base/dref.h"

// An open engine file object. The handle is pointer-sized; null when none is held.
struct DFileRes {
  DFileRes() = default;
  DFileRes(const DFileRes&) = delete;
  DFileRes& operator=(const DFileRes&) = delete;
  // Destroys the engine file when one is held.
  ~DFileRes();

  ApiHandle* handle = nullptr;  // engine file object
};

// Opens the file through the engine (ovCreateFile with path and mode). When the engine refuses,
// stops the play with the script error "ファイル \"<path>\" が開けません。".
DRef<DFileRes> OpenFileRes(const char* path, int32_t mode);
