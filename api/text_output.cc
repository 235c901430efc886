// Text into Draw-unit images for scripts and plug-ins: text infos (fonts with their last output),
// each image's text attributes, output and measuring, and the image's alpha key.
#include <algorithm>
#include <cstdio>
#include <string>

#include "api/api_frame.h"
#include "api/draw_api.h"
#include "api/ov_api.h"
#include "api/text_api.h"
#include "display/text/text_unit.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

const char kCreateTextError[] = "フォントを作成できません。\nメモリが不足しています。";

// ---- Workers.

DRef<TextFont> CreateTextWorker(int32_t height, int32_t weight) {
  return CreateTextFont(height, FontWeightOf(weight));
}

// The script's layout byte as the Display's layout flags: 0x01 right beats 0x02 centre (else left),
// 0x04 bottom beats 0x08 centre (else top), then one of 0x20 overflow-right, 0x40 overflow-bottom,
// 0x10 wrap, in that order.
uint32_t LayoutOf(uint32_t value) {
  const uint32_t b = value & 0xFF;
  const uint32_t h = (b & 0x01) ? 0x04 : (b & 0x02) ? 0x08 : 0x02;
  const uint32_t v = (b & 0x04) ? 0x20 : (b & 0x08) ? 0x40 : 0x10;
  const uint32_t extra = (b & 0x20) ? 0x80 : (b & 0x40) ? 0x100 : (b & 0x10) ? 0x200 : 0;
  return h | v | extra;
}

// Channels 0-31 (out-of-range ones clamped so none spills into its neighbour) packed by format.
uint16_t PackText(const DrawImage& image, int32_t r, int32_t g, int32_t b) {
  r = Channel(r), g = Channel(g), b = Channel(b);
  return static_cast<uint16_t>(image.GetFormat() == 6 ? r << 11 | g << 6 | b : r << 10 | g << 5 | b);
}
void UnpackText(const DrawImage& image, uint16_t c, uint8_t out[3]) {
  if (image.GetFormat() == 6) {
    out[0] = static_cast<uint8_t>(c >> 11);
    out[1] = static_cast<uint8_t>((c >> 6) & 31);
  } else {
    out[0] = static_cast<uint8_t>((c >> 10) & 31);
    out[1] = static_cast<uint8_t>((c >> 5) & 31);
  }
  out[2] = static_cast<uint8_t>(c & 31);
}

// Draws with the image's text attributes; the result is the drawn height (0 without the unit's
// canvas). The image is flagged as changed.
int32_t Output(ImageHandle& handle, DrawImage& image, TextFont& font, const std::string& text) {
  image.SetUpdate();
  DGdiCanvas* canvas = TextCanvas();
  if (!canvas) return 0;
  return OutputTextToImage(handle, *canvas, font, DString(text.c_str()));
}

DRect Extent(TextFont& font, const std::string& text) {
  DGdiCanvas* canvas = TextCanvas();
  if (!canvas) return DRect();
  return MeasureTextExtent(*canvas, font, DString(text.c_str()));
}

void SetAlphaKey(DrawImage& image, int32_t value) {
  image.SetAlphaKey(LayerValue(value));
  image.SetUpdate();
}

// ---- Built-ins: each refuses in TSS mode and does nothing without its current objects.

DRef<TextFont> CurrentText() {
  return DRef<TextFont>::Convert(CurrentObjects().text);
}
int32_t IntArg(ScriptContext* ctx, uint32_t k) {
  return ctx->GetArg(k)->ToInt();
}

// Runs `body` with the current image's handle and image after the mode test.
template <class F>
bool OnImage(ScriptContext* ctx, F body) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> h = CurrentImageHandle();
  if (DrawImage* i = DrawOf(h)) body(*h, *i);
  return false;
}

bool BiCreateText(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<TextFont> font = CreateTextWorker(IntArg(ctx, 1), IntArg(ctx, 2));
  if (!font) {
    ReportRuntimeError(kCreateTextError, ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptTextInfo, DRef<void>::Convert(font));
  return false;
}
bool BiSetTextPos(ScriptContext* ctx) {
  return OnImage(ctx,
                 [ctx](ImageHandle& h, DrawImage&) { h.text_pos = DPoint(IntArg(ctx, 1), IntArg(ctx, 2)); });
}
bool BiGetTextPos(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage&) {
    ctx->SetArgElementInt(1, 0, h.text_pos.x);
    ctx->SetArgElementInt(1, 1, h.text_pos.y);
  });
}
bool BiSetTextRect(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage&) {
    h.text_box = DRect(IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4));
  });
}
bool BiGetTextRect(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage&) {
    ctx->SetArgElementInt(1, 0, h.text_box.x);
    ctx->SetArgElementInt(1, 1, h.text_box.y);
    ctx->SetArgElementInt(1, 2, h.text_box.width);
    ctx->SetArgElementInt(1, 3, h.text_box.height);
  });
}
bool BiSetTextColor(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage& i) {
    h.text_color = PackText(i, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3));
  });
}
bool BiGetTextColor(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage& i) {
    uint8_t c[3];
    UnpackText(i, h.text_color, c);
    for (int32_t k = 0; k < 3; ++k) ctx->SetArgElementInt(1, k, c[k]);
  });
}
bool BiSetTextMode(ScriptContext* ctx) {
  return OnImage(ctx,
                 [ctx](ImageHandle& h, DrawImage&) { h.text_mode = static_cast<uint32_t>(IntArg(ctx, 1)); });
}
bool BiSetTextLayout(ScriptContext* ctx) {
  return OnImage(
      ctx, [ctx](ImageHandle& h, DrawImage&) { h.layout = LayoutOf(static_cast<uint32_t>(IntArg(ctx, 1))); });
}
// OutputText (text at argument 1) and OutputTextPos (x, y, text).
template <bool WithPos>
bool BiOutputText(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle& h, DrawImage& i) {
    if (WithPos) h.text_pos = DPoint(IntArg(ctx, 1), IntArg(ctx, 2));
    const std::string text = ctx->GetArg(WithPos ? 3 : 1)->ToStaticString();
    DRef<TextFont> font = CurrentText();
    ctx->result()->SetInt(font ? Output(h, i, *font, text) : 0);
  });
}
bool BiGetTextOutSize(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  if (DRef<TextFont> font = CurrentText()) {
    ctx->SetArgElementInt(1, 0, font->last_output.width);
    ctx->SetArgElementInt(1, 1, font->last_output.height);
  }
  return false;
}
bool BiGetTextExtent(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<TextFont> font = CurrentText();
  if (!font) return false;
  const DRect r = Extent(*font, ctx->GetArg(2)->ToStaticString());
  ctx->SetArgElementInt(1, 0, r.width);
  ctx->SetArgElementInt(1, 1, r.height);
  return false;
}
bool BiSetImageAlphaKey(ScriptContext* ctx) {
  return OnImage(ctx, [ctx](ImageHandle&, DrawImage& i) { SetAlphaKey(i, IntArg(ctx, 1)); });
}

// ---- Export helpers: nothing in TSS mode, for a null handle or one of another kind.

template <class R, class F>
R OnExportImage(ApiHandle* handle, const char* name, R fallback, F body) noexcept {
  try {
    DRef<ImageHandle> h = ExportImage(handle, name);
    DrawImage* i = DrawOf(h);
    return i ? body(*h, *i) : fallback;
  } catch (...) {
    return fallback;
  }
}
template <class F>
void OnExportImageVoid(ApiHandle* handle, const char* name, F body) noexcept {
  OnExportImage(handle, name, 0, [&body](ImageHandle& h, DrawImage& i) {
    body(h, i);
    return 0;
  });
}
DRef<TextFont> ExportText(const ApiHandle* handle, const char* name) {
  if (InTssMode()) return {};
  return ApiHandleAs<TextFont>(handle, kScriptTextInfo, name);
}
int32_t OutputExport(ApiHandle* image, ApiHandle* text, const char* string, const char* name,
                     const int32_t* x, const int32_t* y) noexcept {
  try {
    if (string == nullptr) return 0;
    DRef<TextFont> font = ExportText(text, name);
    if (!font) return 0;
    return OnExportImage(image, name, int32_t{0}, [&](ImageHandle& h, DrawImage& i) {
      if (x) h.text_pos = DPoint(*x, *y);
      return Output(h, i, *font, string);
    });
  } catch (...) {
    return 0;
  }
}

}  // namespace

ORVANE_START_CODE void InstallTextBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {79, Guarded<BiCreateText>},        {75, Guarded<BiSetTextPos>},       {74, Guarded<BiGetTextPos>},
      {11, Guarded<BiSetTextRect>},       {10, Guarded<BiGetTextRect>},      {73, Guarded<BiSetTextColor>},
      {72, Guarded<BiGetTextColor>},      {12, Guarded<BiSetTextMode>},      {87, Guarded<BiSetTextLayout>},
      {71, Guarded<BiOutputText<false>>}, {88, Guarded<BiOutputText<true>>}, {139, Guarded<BiGetTextOutSize>},
      {140, Guarded<BiGetTextExtent>},    {37, Guarded<BiSetImageAlphaKey>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}

// ---- Exports.

extern "C" {

ApiHandle* ovCreateText(int32_t height, int32_t weight) noexcept {
  try {
    if (InTssMode()) return nullptr;
    return NewApiHandle(kScriptTextInfo, DRef<void>::Convert(CreateTextWorker(height, weight)));
  } catch (...) {
    return nullptr;
  }
}

void ovDestroyText(ApiHandle* text) noexcept {
  if (InTssMode()) return;
  DestroyApiHandle(text, kScriptTextInfo, "ovDestroyText");
}

void ovSetTextPos(ApiHandle* image, int32_t x, int32_t y) noexcept {
  OnExportImageVoid(image, "ovSetTextPos", [&](ImageHandle& h, DrawImage&) { h.text_pos = DPoint(x, y); });
}

OvPoint ovGetTextPos(ApiHandle* image) noexcept {
  return OnExportImage(image, "ovGetTextPos", OvPoint{}, [](ImageHandle& h, DrawImage&) {
    return OvPoint{h.text_pos.x, h.text_pos.y};
  });
}

void ovSetTextRect(ApiHandle* image, int32_t left, int32_t top, int32_t right, int32_t bottom) noexcept {
  OnExportImageVoid(image, "ovSetTextRect",
                    [&](ImageHandle& h, DrawImage&) { h.text_box = DRect(left, top, right, bottom); });
}

OvEdges ovGetTextRect(ApiHandle* image) noexcept {
  return OnExportImage(image, "ovGetTextRect", OvEdges{}, [](ImageHandle& h, DrawImage&) {
    return OvEdges{h.text_box.x, h.text_box.y, h.text_box.width, h.text_box.height};
  });
}

void ovSetTextColor(ApiHandle* image, uint8_t r, uint8_t g, uint8_t b) noexcept {
  OnExportImageVoid(image, "ovSetTextColor",
                    [&](ImageHandle& h, DrawImage& i) { h.text_color = PackText(i, r, g, b); });
}

void ovGetTextColor(uint8_t* colour, ApiHandle* image) noexcept {
  if (colour == nullptr) return;
  OnExportImageVoid(image, "ovGetTextColor",
                    [colour](ImageHandle& h, DrawImage& i) { UnpackText(i, h.text_color, colour); });
}

void ovSetTextMode(ApiHandle* image, int32_t mode) noexcept {
  OnExportImageVoid(image, "ovSetTextMode",
                    [mode](ImageHandle& h, DrawImage&) { h.text_mode = static_cast<uint32_t>(mode); });
}

void ovSetTextLayout(ApiHandle* image, uint8_t flags) noexcept {
  OnExportImageVoid(image, "ovSetTextLayout",
                    [flags](ImageHandle& h, DrawImage&) { h.layout = LayoutOf(flags); });
}

int32_t ovOutputText(ApiHandle* image, ApiHandle* text, const char* string) noexcept {
  return OutputExport(image, text, string, "ovOutputText", nullptr, nullptr);
}

int32_t ovOutputTextPos(ApiHandle* image, int32_t x, int32_t y, ApiHandle* text,
                        const char* string) noexcept {
  return OutputExport(image, text, string, "ovOutputTextPos", &x, &y);
}

OvSize ovGetTextOutSize(ApiHandle* text) noexcept {
  try {
    DRef<TextFont> font = ExportText(text, "ovGetTextOutSize");
    if (!font) return OvSize{};
    return OvSize{font->last_output.width, font->last_output.height};
  } catch (...) {
    return OvSize{};
  }
}

OvSize ovGetTextExtent(ApiHandle* text, const char* string) noexcept {
  try {
    DRef<TextFont> font = ExportText(text, "ovGetTextExtent");
    if (!font || string == nullptr) return OvSize{};
    const DRect r = Extent(*font, string);
    return OvSize{r.width, r.height};
  } catch (...) {
    return OvSize{};
  }
}

void ovSetImageAlphaKey(ApiHandle* image, uint8_t value) noexcept {
  OnExportImageVoid(image, "ovSetImageAlphaKey",
                    [value](ImageHandle&, DrawImage& i) { SetAlphaKey(i, value); });
}

}  // extern "C"
