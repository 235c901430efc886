// Anti-aliased characters for scripts and plug-ins: character sets made from a face, single
// characters rendered with them, their metrics, and the writers into a Draw-unit image's level
// layer and into the alpha of a TSS image.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/api_frame.h"
#include "api/draw_api.h"
#include "api/ov_api.h"
#include "api/text_api.h"
#include "api/tss_exports.h"
#include "base/dstring.h"
#include "display/text/dglyph.h"
#include "display/tss/dtss_manager.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

// Heights beyond this many pixels make no character set (and -|height| cannot overflow).
constexpr int32_t kMaxCharHeight = 1024;

const char kCreateCharError[] = "アンチエイリアス文字を作成できません。";

// The glyph format and output depth of a set: quality bit 0x01 one-bit, else 0x02 five levels,
// else 0x08 or 0x10 sixty-five, else seventeen; 0x20 keeps every rendered character. Draw mode
// writes 5-bit levels, TSS mode 8 bits into A8R8G8B8 textures and 4 bits otherwise.
uint32_t GlyphFlagsOf(int32_t quality) {
  uint32_t f;
  if (quality & 0x01)
    f = kGlyphBitmap;
  else if (quality & 0x02)
    f = kGlyphGray2;
  else if (quality & 0x18)
    f = 0;
  else
    f = kGlyphGray4;
  if (quality & 0x20) f |= kGlyphCache;
  if (!InTssMode())
    f |= kGlyphOut5;
  else if (TssManager().GetTextureFormat() != 2)
    f |= kGlyphOut4;
  return f;
}

DRef<DGlyph> CreateCharWorker(const char* face, int32_t height, int32_t weight, int32_t italic,
                              int32_t fixed_pitch, int32_t quality) {
  if (face == nullptr || height < -kMaxCharHeight || height > kMaxCharHeight) return {};
  LOGFONTA lf{};
  lf.lfHeight = -std::abs(height);
  lf.lfWeight = FontWeightOf(weight);
  lf.lfItalic = italic != 0 ? 1 : 0;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  lf.lfQuality = 2;
  lf.lfPitchAndFamily = fixed_pitch != 0 ? 0x31 : 0x12;
  // At most 31 bytes, never half a double-byte character.
  size_t n = 0;
  while (face[n]) {
    const size_t step = DIsLeadByte(face[n]) && face[n + 1] ? 2 : 1;
    if (n + step > LF_FACESIZE - 1) break;
    n += step;
  }
  std::memcpy(lf.lfFaceName, face, n);
  lf.lfFaceName[n] = '\0';
  DRef<DGlyph> set;
  set.Alloc(1);
  if (!set->Create(GlyphFlagsOf(quality), lf)) return {};
  return set;
}

// Writes the current glyph into the level layer of a Draw-unit image (nothing while it is off).
void DrawIntoLayer(DrawImage& image, const DGlyph& set, int32_t x, int32_t y) {
  if (InTssMode() || !image.IsAlpha()) return;
  uint8_t* plane = image.ValidAlpha();
  if (!plane) return;
  set.DrawToAlphaPlane(plane, x, y, image.GetWidth(), image.GetHeight(), image.GetWidth());
  image.SetUpdate();
}

// Writes the current glyph's levels into the alpha of a TSS image's source and marks the
// written part for upload; the image is unlocked on every path.
void DrawIntoTss(DtssImage& image, const DGlyph& set, int32_t x, int32_t y) {
  const DPoint box = set.GetBoxSize(), size = image.GetSourceSize();
  const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
  const int64_t right = std::min<int64_t>(int64_t{x} + box.x, size.x);
  const int64_t bottom = std::min<int64_t>(int64_t{y} + box.y, size.y);
  if (right <= left || bottom <= top) return;
  int32_t pitch = 0;
  uint8_t* pixels = image.Lock(&pitch);
  if (!pixels) return;
  if (TssManager().GetTextureFormat() == 2)
    set.DrawToARGB8888(pixels, x, y, size.x, size.y, pitch);
  else
    set.DrawToARGB4444(pixels, x, y, size.x, size.y, pitch);
  image.Unlock();
  image.AddDirtyRect(static_cast<int32_t>(left), static_cast<int32_t>(top),
                     static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top));
}

// ---- Built-ins.

DRef<DGlyph> CurrentSet() {
  return DRef<DGlyph>::Convert(CurrentObjects().aa_char);
}

bool BiCreateChar(ScriptContext* ctx) {
  const int32_t height = ctx->GetArg(2)->ToInt(), weight = ctx->GetArg(3)->ToInt();
  const int32_t italic = ctx->GetArg(4)->ToInt(), fixed = ctx->GetArg(5)->ToInt();
  const int32_t quality = ctx->GetArg(6)->ToInt();
  const std::string face = ctx->GetArg(1)->ToStaticString();
  DRef<DGlyph> set = CreateCharWorker(face.c_str(), height, weight, italic, fixed, quality);
  if (!set) {
    ReportRuntimeError(kCreateCharError, ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptAaCharSet, DRef<void>::Convert(set));
  return false;
}

bool BiRenderChar(ScriptContext* ctx) {
  DRef<DGlyph> set = CurrentSet();
  if (!set) return false;
  const auto* text = reinterpret_cast<const unsigned char*>(ctx->GetArg(1)->ToStaticString());
  // A lead byte takes the next byte as its trail (a lone lead byte gives lead x 256).
  char shown[3] = {static_cast<char>(text[0]), 0, 0};
  uint16_t code = text[0];
  if (DIsLeadByte(text[0])) {
    code = static_cast<uint16_t>(text[0] << 8 | text[1]);
    shown[1] = static_cast<char>(text[1]);
  }
  if (set->Render(code)) return false;
  char message[96];
  std::snprintf(message, sizeof message, "指定されたアンチエイリアス文字 '%s' は存在しません。", shown);
  ReportRuntimeError(message, ctx);
  return false;
}

bool BiDrawChar(ScriptContext* ctx) {
  DRef<DGlyph> set = CurrentSet();
  if (!set || InTssMode()) return false;
  const int32_t x = ctx->GetArg(1)->ToInt(), y = ctx->GetArg(2)->ToInt();
  DRef<ImageHandle> h = CurrentImageHandle();
  if (DrawImage* image = DrawOf(h)) DrawIntoLayer(*image, *set, x, y);
  return false;
}

// Writes a pair of the current glyph into elements 0 and 1 of argument 1.
template <DPoint (DGlyph::*Get)() const>
bool BiCharPair(ScriptContext* ctx) {
  DRef<DGlyph> set = CurrentSet();
  if (!set) return false;
  const DPoint p = (set.Get()->*Get)();
  ctx->SetArgElementInt(1, 0, p.x);
  ctx->SetArgElementInt(1, 1, p.y);
  return false;
}

bool BiGetCharHeight(ScriptContext* ctx) {
  if (DRef<DGlyph> set = CurrentSet()) ctx->result()->SetInt(set->GetHeight());
  return false;
}

// The set behind an export's handle (empty for null and for a handle of another kind).
DRef<DGlyph> ExportSet(const ApiHandle* handle, const char* name) {
  return ApiHandleAs<DGlyph>(handle, kScriptAaCharSet, name);
}

}  // namespace

ORVANE_START_CODE void InstallCharBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {245, Guarded<BiCreateChar>},
      {248, Guarded<BiRenderChar>},
      {249, Guarded<BiDrawChar>},
      {250, Guarded<BiCharPair<&DGlyph::GetBoxSize>>},
      {251, Guarded<BiCharPair<&DGlyph::GetDrawPos>>},
      {252, Guarded<BiCharPair<&DGlyph::GetFeed>>},
      {253, Guarded<BiGetCharHeight>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}

// ---- Exports.

extern "C" {

ApiHandle* ovCreateChar(const char* face, int32_t height, int32_t weight, int32_t italic, int32_t fixed_pitch,
                        int32_t quality) noexcept {
  try {
    return NewApiHandle(kScriptAaCharSet, DRef<void>::Convert(CreateCharWorker(face, height, weight, italic,
                                                                               fixed_pitch, quality)));
  } catch (...) {
    return nullptr;
  }
}

void ovDestroyChar(ApiHandle* chars) noexcept {
  DestroyApiHandle(chars, kScriptAaCharSet, "ovDestroyChar");
}

int32_t ovRenderChar(ApiHandle* chars, uint32_t code) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovRenderChar");
    return set && set->Render(static_cast<uint16_t>(code & 0xFFFF)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void ovDrawChar(ApiHandle* image, int32_t x, int32_t y, ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovDrawChar");
    DRef<ImageHandle> h = ExportImage(image, "ovDrawChar");
    DrawImage* target = DrawOf(h);
    if (set && target) DrawIntoLayer(*target, *set, x, y);
  } catch (...) {
  }
}

void ovtsDrawChar(ApiHandle* image, int32_t x, int32_t y, ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovtsDrawChar");
    DRef<DtssImage> target = TssImageOf(image, "ovtsDrawChar");
    if (set && target) DrawIntoTss(*target, *set, x, y);
  } catch (...) {
  }
}

OvSize ovGetCharBoxSize(ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovGetCharBoxSize");
    if (!set) return OvSize{};
    return OvSize{set->GetBoxSize().x, set->GetBoxSize().y};
  } catch (...) {
    return OvSize{};
  }
}

OvPoint ovGetCharDrawPos(ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovGetCharDrawPos");
    if (!set) return OvPoint{};
    return OvPoint{set->GetDrawPos().x, set->GetDrawPos().y};
  } catch (...) {
    return OvPoint{};
  }
}

OvSize ovGetCharFeedSize(ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovGetCharFeedSize");
    if (!set) return OvSize{};
    return OvSize{set->GetFeed().x, set->GetFeed().y};
  } catch (...) {
    return OvSize{};
  }
}

int32_t ovGetCharHeight(ApiHandle* chars) noexcept {
  try {
    DRef<DGlyph> set = ExportSet(chars, "ovGetCharHeight");
    return set ? set->GetHeight() : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
