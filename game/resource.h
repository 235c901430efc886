// Resource records: engine objects owned by shared records whose last release destroys them;
// file lookup by extension, the image and sound caches, colour texts, and the wrappers through
// which the game makes engine objects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/ov_api.h"
#include "base/dref.h"

// Size of a record's name (263 bytes and the NUL).
inline constexpr size_t kResourceNameSize = 264;

// Each record owns one engine object (pointer-sized handle, null when none) and destroys it at
// its last release. Names are cut at a character boundary.
struct DImageRes {
  DImageRes() = default;
  DImageRes(const DImageRes&) = delete;
  DImageRes& operator=(const DImageRes&) = delete;
  ~DImageRes();
  ApiHandle* handle = nullptr;        // engine TSS image
  char name[kResourceNameSize] = "";  // resolved path, "<black>" or "<colour>"
};

struct DSoundRes {
  DSoundRes() = default;
  DSoundRes(const DSoundRes&) = delete;
  DSoundRes& operator=(const DSoundRes&) = delete;
  ~DSoundRes();
  ApiHandle* handle = nullptr;        // engine sound; null: no sound, nothing plays
  char name[kResourceNameSize] = "";  // resolved path; "" when no file was found
};

struct DWipeRes {
  DWipeRes() = default;
  DWipeRes(const DWipeRes&) = delete;
  DWipeRes& operator=(const DWipeRes&) = delete;
  ~DWipeRes();
  ApiHandle* handle = nullptr;        // engine TSS wipe
  char name[kResourceNameSize] = "";  // resolved path
};

struct DSpriteRes {
  DSpriteRes() = default;
  DSpriteRes(const DSpriteRes&) = delete;
  DSpriteRes& operator=(const DSpriteRes&) = delete;
  ~DSpriteRes();
  ApiHandle* handle = nullptr;  // engine TSS sprite
};

struct DCharRes {
  DCharRes() = default;
  DCharRes(const DCharRes&) = delete;
  DCharRes& operator=(const DCharRes&) = delete;
  ~DCharRes();
  ApiHandle* handle = nullptr;  // engine anti-aliased character set
};

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

// The image extensions tried after a name, separated by ":" (263 bytes at most).
void SetImageExtensions(const char* list);
// Extensions "png:bmp:jpg", image cache limit 32, sound cache limit 8.
void ResetResourceDefaults();

// The name when it exists as written, else the name with the first extension of the list under
// which a file exists, else the name itself; cut to size - 1 bytes.
void FindImageFile(const char* name, char* out, size_t size);
bool IsImageFileExist(const char* name);
// The path exists as written or with "wav", "ogg" or "mp3" added.
bool FindSoundFile(const char* path);

// The image of the name: from the image cache when use_cache and a record of its resolved path
// (ASCII case ignored) is there, as it was first loaded; else loaded with the cell sizes and the
// alpha mode of the mode text ("alpha" 2, "alayer" 1, else 0) and, with use_cache, cached. A
// failed load is the script error "画像 \"%s\" が読み込めません。"; a mode that is none of
// "none", "alpha", "alayer", "leftup", "" and no colour is ParseColor's fatal error.
DRef<DImageRes> LoadImageCached(int32_t cell_width, int32_t cell_height, const char* name, bool use_cache,
                                const char* mode);
// The sound of the name (as written or with "wav", "ogg", "mp3"), from the sound cache or loaded
// and cached, a failed load too (handle null). No file: an uncached record with handle null.
DRef<DSoundRes> LoadSoundCached(const char* name, int32_t voices);
// Empties the image cache, then the sound cache; records held elsewhere stay.
void FlushCaches();
// Limits clamped to 0..1024 and 0..32; the least recently used entries over the limit go.
void SetImageCacheLimit(int32_t limit);
void SetSoundCacheLimit(int32_t limit);
uint32_t ImageCacheCount();
uint32_t SoundCacheCount();
// At the end of the game: empties the sound cache, then the image cache.
void ReleaseCaches();

// Red, green, blue and alpha (0 to 1) of a colour text: "white", "black", "red", "green",
// "blue" (ASCII case ignored), or "#" and up to four pairs of hexadecimal characters (alpha 1
// when absent). Any other text is the fatal error "認識できない色%sです。".
void ParseColor(const char* text, float out[4]);

// The wrappers: each refusal of the engine stops the play with its script error.
DRef<DCharRes> CreateCharRes(const char* face, int32_t height, int32_t weight, uint8_t italic,
                             uint8_t fixed_pitch, int32_t quality);
DRef<DSpriteRes> CreateSpriteRes(const DRef<DImageRes>& image, int32_t level, int32_t flags);
// An unfilled dynamic image named "<black>".
DRef<DImageRes> CreateDynamicImageRes(int32_t width, int32_t height);
// An image filled with the colour, named "<" colour ">".
DRef<DImageRes> CreateColorImageRes(int32_t width, int32_t height, const char* color);
// A wipe mask found like an image (never from the image cache).
DRef<DWipeRes> LoadWipeRes(const char* name);
