// Resource records, file lookup by extension, the image and sound caches, colour texts and the
// wrappers that make engine objects.
#include "game/resource.h"

#include <cstdio>
#include <cstring>

#include "base/dpath.h"
#include "base/dreflist.h"
#include "base/dstring.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/tokenizer.h"

namespace {

char g_image_extensions[kResourceNameSize] = "png:bmp:jpg";
uint32_t g_image_cache_limit = 32;
uint32_t g_sound_cache_limit = 8;
// Front: least recently used; back: most recently used.
DRefList<DImageRes> g_image_cache;
DRefList<DSoundRes> g_sound_cache;

const char* const kSoundExtensions[] = {"wav", "ogg", "mp3"};

void CopyName(char* name, const char* text) {
  DStrCopyToCharBoundary(text, name, kResourceNameSize);
}

bool SameName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

// A hit moves to the back and is returned; a miss returns an empty reference.
template <class T>
DRef<T> CacheLookup(DRefList<T>& cache, const char* path) {
  for (auto it = cache.Begin(); !(it == cache.End()); it = it.Next()) {
    DRef<T> record = it.Value();
    if (!SameName(record->name, path)) continue;
    cache.Erase(it);
    cache.PushBack(record);
    return record;
  }
  return DRef<T>();
}

// At the limit the least recently used entry goes first (one at most), then the record joins.
template <class T>
void CacheInsert(DRefList<T>& cache, uint32_t limit, const DRef<T>& record) {
  if (cache.GetCount() >= limit && !cache.IsEmpty()) cache.Erase(cache.Begin());
  cache.PushBack(record);
}

template <class T>
void CacheTrim(DRefList<T>& cache, uint32_t limit) {
  while (cache.GetCount() > limit) cache.Erase(cache.Begin());
}

uint32_t Clamp(int32_t value, uint32_t high) {
  if (value < 0) return 0;
  return static_cast<uint32_t>(value) > high ? high : static_cast<uint32_t>(value);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The next two characters (fewer at the end, a double-byte one counting as one) as a
// hexadecimal number up to the first character that is no digit, over 255, clamped to 0..1.
float HexPair(const char*& cursor) {
  char digits[5] = {};
  size_t n = 0;
  for (int i = 0; i < 2 && *cursor; ++i) {
    size_t width = DIsLeadByte(*cursor) && cursor[1] ? 2 : 1;
    for (size_t k = 0; k < width; ++k) digits[n++] = cursor[k];
    cursor += width;
  }
  int value = 0;
  for (size_t i = 0; i < n && IsHexDigit(digits[i]); ++i) {
    const char c = digits[i];
    value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  float result = static_cast<float>(value) / 255.0f;
  return result > 1.0f ? 1.0f : result;
}

}  // namespace

DImageRes::~DImageRes() {
  if (handle) {
    g_engine.ovtsDestroyImage(handle);
    handle = nullptr;
  }
  name[0] = '\0';
}

DSoundRes::~DSoundRes() {
  name[0] = '\0';
  if (handle) {
    g_engine.ovDestroySound(handle);
    handle = nullptr;
  }
}

DWipeRes::~DWipeRes() {
  if (handle) {
    g_engine.ovtsDestroyWipe(handle);
    handle = nullptr;
  }
  name[0] = '\0';
}

DSpriteRes::~DSpriteRes() {
  if (handle) {
    g_engine.ovtsDestroySprite(handle);
    handle = nullptr;
  }
}

DCharRes::~DCharRes() {
  if (handle) {
    g_engine.ovDestroyChar(handle);
    handle = nullptr;
  }
}

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

void SetImageExtensions(const char* list) {
  DStrCopyToCharBoundary(list, g_image_extensions, sizeof(g_image_extensions));
}

void ResetResourceDefaults() {
  SetImageExtensions("png:bmp:jpg");
  g_image_cache_limit = 32;
  g_sound_cache_limit = 8;
}

void FindImageFile(const char* name, char* out, size_t size) {
  if (!g_engine.ovIsFileExist(name)) {
    char token[kResourceNameSize];
    size_t length = 0;
    const char* cursor = g_image_extensions;
    for (;;) {
      const CharCode c = ReadChar(cursor);
      if (c != 0 && c != ':') {
        PutChar(token, sizeof(token), length, c);
        continue;
      }
      if (c == ':' || length > 0) {
        token[length] = '\0';
        char path[kResourceNameSize];
        g_engine.ovMargePath(path, "", name, token);
        if (g_engine.ovIsFileExist(path)) {
          DStrCopyToCharBoundary(path, out, size);
          return;
        }
      }
      if (c == 0) break;
      length = 0;
    }
  }
  DStrCopyToCharBoundary(name, out, size);
}

bool IsImageFileExist(const char* name) {
  char path[kResourceNameSize];
  FindImageFile(name, path, sizeof(path));
  return g_engine.ovIsFileExist(path) != 0;
}

bool FindSoundFile(const char* path) {
  if (g_engine.ovIsFileExist(path)) return true;
  char joined[kResourceNameSize];
  for (const char* extension : kSoundExtensions) {
    DMargePath(joined, DString(""), DString(path), DString(extension));
    if (g_engine.ovIsFileExist(joined)) return true;
  }
  return false;
}

DRef<DImageRes> LoadImageCached(int32_t cell_width, int32_t cell_height, const char* name, bool use_cache,
                                const char* mode) {
  char path[kResourceNameSize];
  FindImageFile(name, path, sizeof(path));
  if (use_cache) {
    DRef<DImageRes> hit = CacheLookup(g_image_cache, path);
    if (hit) return hit;
  }
  const DString mode_text(mode ? mode : "");
  int32_t alpha_mode = 0;
  if (DStrCompareNoCase(mode_text, DString("alpha")) == 0) alpha_mode = 2;
  if (DStrCompareNoCase(mode_text, DString("alayer")) == 0) alpha_mode = 1;
  DRef<DImageRes> image;
  image.Alloc(1);
  image->handle = g_engine.ovtsLoadImage(cell_width, cell_height, path, alpha_mode);
  if (!image->handle) ScriptError("画像 \"%s\" が読み込めません。", name);
  CopyName(image->name, path);
  if (mode_text.Length() != 0 && DStrCompareNoCase(mode_text, DString("none")) != 0 && alpha_mode == 0 &&
      DStrCompareNoCase(mode_text, DString("leftup")) != 0) {
    float color[4];
    ParseColor(mode_text.Text(), color);
  }
  if (use_cache) CacheInsert(g_image_cache, g_image_cache_limit, image);
  return image;
}

DRef<DSoundRes> LoadSoundCached(const char* name, int32_t voices) {
  char path[kResourceNameSize];
  CopyName(path, name);
  if (!g_engine.ovIsFileExist(path)) {
    bool found = false;
    for (const char* extension : kSoundExtensions) {
      DMargePath(path, DString(""), DString(name), DString(extension));
      if (g_engine.ovIsFileExist(path)) {
        found = true;
        break;
      }
    }
    if (!found) path[0] = '\0';
  }
  DRef<DSoundRes> sound;
  if (path[0] == '\0') {
    sound.Alloc(1);
    return sound;
  }
  sound = CacheLookup(g_sound_cache, path);
  if (sound) return sound;
  sound.Alloc(1);
  sound->handle = g_engine.ovLoadSound(path, voices);
  CopyName(sound->name, path);
  CacheInsert(g_sound_cache, g_sound_cache_limit, sound);
  return sound;
}

void FlushCaches() {
  g_image_cache.Clear();
  g_sound_cache.Clear();
}

void SetImageCacheLimit(int32_t limit) {
  g_image_cache_limit = Clamp(limit, 1024);
  CacheTrim(g_image_cache, g_image_cache_limit);
}

void SetSoundCacheLimit(int32_t limit) {
  g_sound_cache_limit = Clamp(limit, 32);
  CacheTrim(g_sound_cache, g_sound_cache_limit);
}

uint32_t ImageCacheCount() {
  return g_image_cache.GetCount();
}

uint32_t SoundCacheCount() {
  return g_sound_cache.GetCount();
}

void ReleaseCaches() {
  g_sound_cache.Clear();
  g_image_cache.Clear();
}

void ParseColor(const char* text, float out[4]) {
  static const struct {
    const char* name;
    float rgb[3];
  } kNamed[] = {{"white", {1, 1, 1}},
                {"black", {0, 0, 0}},
                {"red", {1, 0, 0}},
                {"green", {0, 1, 0}},
                {"blue", {0, 0, 1}}};
  const DString word(text ? text : "");
  for (const auto& named : kNamed) {
    if (DStrCompareNoCase(word, DString(named.name)) != 0) continue;
    for (int i = 0; i < 3; ++i) out[i] = named.rgb[i];
    out[3] = 1.0f;
    return;
  }
  if (word.Text()[0] != '#') FatalError("認識できない色%sです。", word.Text());
  const char* cursor = word.Text() + 1;
  for (int i = 0; i < 3; ++i) out[i] = HexPair(cursor);
  out[3] = *cursor ? HexPair(cursor) : 1.0f;
}

DRef<DCharRes> CreateCharRes(const char* face, int32_t height, int32_t weight, uint8_t italic,
                             uint8_t fixed_pitch, int32_t quality) {
  DRef<DCharRes> chars;
  chars.Alloc(1);
  chars->handle = g_engine.ovCreateChar(face, height, weight, italic, fixed_pitch, quality);
  if (!chars->handle) ScriptError("フォント\"%s\"が存在しません。", face);
  return chars;
}

DRef<DSpriteRes> CreateSpriteRes(const DRef<DImageRes>& image, int32_t level, int32_t flags) {
  DRef<DSpriteRes> sprite;
  sprite.Alloc(1);
  sprite->handle = g_engine.ovtsCreateSprite(image ? image->handle : nullptr, level, flags);
  if (!sprite->handle) ScriptError("スプライトを作成できません。");
  return sprite;
}

DRef<DImageRes> CreateDynamicImageRes(int32_t width, int32_t height) {
  DRef<DImageRes> image;
  image.Alloc(1);
  image->handle = g_engine.ovtsCreateDynamicImage(width, height);
  if (!image->handle) ScriptError("画像が作成できません。");
  CopyName(image->name, "<black>");
  return image;
}

DRef<DImageRes> CreateColorImageRes(int32_t width, int32_t height, const char* color) {
  DRef<DImageRes> image;
  image.Alloc(1);
  image->handle = g_engine.ovtsCreateImage(width, height);
  if (!image->handle) ScriptError("画像が作成できません。");
  float rgba[4];
  ParseColor(color, rgba);
  g_engine.ovtsFillImage(image->handle, rgba[0], rgba[1], rgba[2], rgba[3]);
  char name[kResourceNameSize * 2];
  std::snprintf(name, sizeof(name), "<%.263s>", color ? color : "");
  CopyName(image->name, name);
  return image;
}

DRef<DWipeRes> LoadWipeRes(const char* name) {
  char path[kResourceNameSize];
  FindImageFile(name, path, sizeof(path));
  DRef<DWipeRes> wipe;
  wipe.Alloc(1);
  wipe->handle = g_engine.ovtsLoadWipe(path);
  if (!wipe->handle) ScriptError("ワイプ \"%s\" が読み込めません。", name);
  CopyName(wipe->name, path);
  return wipe;
}
