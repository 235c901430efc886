// Draw-unit images for scripts and plug-ins: making, loading, copying, writing and selecting them,
// the wipe patterns, and their attributes, status stack and connection.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "api/api_common.h"
#include "api/api_path.h"
#include "api/draw_api.h"
#include "api/ov_api.h"
#include "base/dfile.h"
#include "base/dpath.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_bmp.h"
#include "imaging/dimg_load.h"
#include "imaging/dimg_png.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"
#include "vm/startup_config.h"

const DRef<ImageHandle>& ScreenImageHandle() {
  static DRef<ImageHandle>* handle = new DRef<ImageHandle>(MakeScreenImageHandle(DrawScreen()));
  return *handle;
}

void SelectScreenImage(uint32_t startup_flags) {
  if (startup_flags & kStartupTss) return;
  CurrentObjects().image = DRef<void>::Convert(ScreenImageHandle());
}

namespace {

constexpr uint32_t kMakeAlpha = 1, kMakeHidden = 2, kMakeShown = 4, kMakeUnlisted = 8, kMakeSplit = 16;

const char kCreateError[] = "イメージを作成できません。\nメモリが不足しています。";

// ---- Files.

// `path` made absolute against the running script's directory; false when the result is longer
// than a path buffer holds (a cut path would name another file).
bool ResolveFull(const char* path, char* out) {
  DStringBuffer abs = DGetAbsolutePath(DString(path ? path : ""), DString(RunningDirectory()));
  if (abs.GetLength() >= kApiPathSize) return false;
  std::memcpy(out, abs.GetText(), abs.GetLength());
  out[abs.GetLength()] = '\0';
  return true;
}

// Opens an image or wipe file (only the archive while one is mounted, else the disk) and decodes
// it by its signature.
bool LoadPicture(const char* path, DImage& out) {
  DFile file;
  return ApiOpenPath(path, file) && DimgLoad(file, out);
}

// ---- Makers.

// Registers a made image unless the flags say otherwise; false for a level out of range.
bool Register(DrawImage& image, int32_t level, int32_t flags) {
  if (flags & kMakeUnlisted) return true;
  return image.GetOwner() && image.GetOwner()->GetSpriteList().SetImageLevel(image, level);
}

// A positive size that got no pixels (past the image cap, no memory) is a failure.
bool GotPixels(const DrawImage& image, int32_t width, int32_t height) {
  return width <= 0 || height <= 0 || (image.GetWidth() == width && image.GetHeight() == height);
}

DRef<ImageHandle> NewHandle(const DRef<DrawImage>& image) {
  DRef<ImageHandle> h;
  h.Alloc(1);
  h->Attach(DRef<ConnectedImage>::Convert(image));
  return h;
}

DRef<ImageHandle> CreateWorker(int32_t width, int32_t height, int32_t level, int32_t flags) {
  if (InTssMode()) return {};
  DRef<DrawImage> image = DrawScreen().CreateImage(width, height);
  if (!image || !GotPixels(*image, width, height) || !Register(*image, level, flags)) return {};
  image->Fill(0);  // a blank image: new storage holds whatever the heap left there
  DRef<ImageHandle> h = NewHandle(image);
  image->SetUpdate();
  if (flags & kMakeHidden) image->SetDraw(false);
  return h;
}

// The luma of one mask pixel as a level: the nearest integer (ties to even) of the weighted sum,
// its low 8 bits, then 5 bits.
uint8_t MaskLevel(uint8_t r, uint8_t g, uint8_t b) {
  const double sum = 0.11 * b + 0.59 * g + 0.30 * r;
  const auto l = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(sum)) & 0xFF);
  return static_cast<uint8_t>(l >> 3);
}

DRef<ImageHandle> LoadWorker(const char* path, int32_t level, int32_t flags) {
  if (InTssMode()) return {};
  DImage d;
  if (!LoadPicture(path, d)) return {};
  const int32_t W = static_cast<int32_t>(d.GetWidth()), H = static_cast<int32_t>(d.GetHeight());
  const bool split = flags & kMakeSplit;
  const int32_t iw = split ? W / 2 : W;
  DRef<DrawImage> image = DrawScreen().CreateImage(iw, H);
  if (!image || !GotPixels(*image, iw, H)) return {};
  DImage* px = image->GetImage();
  if (iw > 0 && H > 0) {
    if (split)
      DimgBltColorUnscaled(*px, d, 0, 0, uint32_t(iw), uint32_t(H), 0, 0);
    else
      DimgBltColorAlphaUnscaled(*px, d, 0, 0, uint32_t(W), uint32_t(H), 0, 0, 0);
  }
  DRef<ImageHandle> h = NewHandle(image);
  if (split) {
    image->EnableAlpha(true);
    uint8_t* plane = image->ValidAlpha();
    if (iw > 0 && H > 0) {
      if (!plane) return {};
      DImage temp;
      const DImage* mask = &d;
      int32_t mx = iw;
      if (d.GetFormat() != DimgFormat::RGB888) {
        if (!temp.Create(uint32_t(iw), uint32_t(H), 0, DimgFormat::RGB888)) return {};
        DimgBltColorUnscaled(temp, d, 0, 0, uint32_t(iw), uint32_t(H), iw, 0);
        mask = &temp;
        mx = 0;
      }
      for (int32_t y = 0; y < H; ++y) {
        const uint8_t* row = mask->GetPixelPointer(mx, y);
        uint8_t* out = plane + int64_t(y) * iw;
        for (int32_t x = 0; x < iw; ++x) out[x] = MaskLevel(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
      }
    }
  } else if (flags & kMakeAlpha) {
    image->EnableAlpha(true);
    uint8_t* plane = image->ValidAlpha();
    if (W > 0 && H > 0) {
      if (!plane) return {};
      DImage temp;
      const DImage* alpha = &d;
      if (d.GetFormat() != DimgFormat::RGBA8888) {
        if (!temp.Create(uint32_t(W), uint32_t(H), 0, DimgFormat::RGBA8888)) return {};
        DimgBltAlphaUnscaled(temp, d, 0, 0, uint32_t(W), uint32_t(H), 0, 0);
        alpha = &temp;
      }
      for (int32_t y = 0; y < H; ++y) {
        const uint8_t* row = alpha->GetPixelPointer(0, y);
        uint8_t* out = plane + int64_t(y) * W;
        for (int32_t x = 0; x < W; ++x) out[x] = static_cast<uint8_t>(row[4 * x + 3] >> 3);
      }
    }
  }
  if (!Register(*image, level, flags)) return {};
  if (flags & kMakeHidden) image->SetDraw(false);
  image->SetUpdate();
  return h;
}

DRef<ImageHandle> CopyWorker(const DRef<ImageHandle>& source, int32_t level, int32_t flags, bool duplicate) {
  if (InTssMode() || !source) return {};
  DrawImage* s = DrawOf(source);
  if (!s) return {};
  DRef<DrawImage> src;
  src.Attach(s);  // not owned: the source handle keeps it
  DRef<DrawImage> image = duplicate ? DrawScreen().DuplicateImage(src) : DrawScreen().CopyImage(src);
  if (!image || (!duplicate && !GotPixels(*image, s->GetWidth(), s->GetHeight())) ||
      !Register(*image, level, flags))
    return {};
  DRef<ImageHandle> h;
  h.Alloc(1);
  h->Attach(DRef<ConnectedImage>::Convert(image));
  h->CopyFrom(*source);
  h->image = DRef<ConnectedImage>::Convert(image);
  image->SetUpdate();
  if (flags & kMakeHidden) image->SetDraw(false);
  if (flags & kMakeShown) image->SetDraw(true);
  return h;
}

bool WriteWorker(const char* path, int32_t format, const DRef<ImageHandle>& handle) {
  if (InTssMode()) return false;
  DrawImage* image = DrawOf(handle);
  if (!image || !image->GetImage() || (format != 1 && format != 2)) return false;
  char full[kApiPathSize];
  if (path == nullptr || std::strlen(path) >= kApiPathSize || !ResolveFull(path, full)) return false;
  DFile file;
  if (!file.Open(DString(full), DFile::kRead | DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew))
    return false;
  return format == 1 ? DimgWriteBitmap(file, *image->GetImage())
                     : DimgWritePNG(file, *image->GetImage(), false);
}

DRef<WipeMap> LoadWipeWorker(const char* path, int32_t mode) {
  if (InTssMode() || (mode != 0 && mode != 1)) return {};
  DImage d;
  if (!LoadPicture(path, d)) return {};
  return DrawScreen().LoadWipe(d, mode);
}

// A run-time error with the path on a second line in double quotes.
void RaisePathError(ScriptContext* ctx, const char* what, const char* path) {
  char text[kApiPathSize + 96];
  std::snprintf(text, sizeof text, "%s\n\"%s\"", what, path);
  ReportRuntimeError(text, ctx);
}

void SetImageResult(ScriptContext* ctx, const DRef<ImageHandle>& h) {
  SetObjectValue(ctx->result(), kScriptImage, DRef<void>::Convert(h));
}

// ---- Built-ins of the makers.

bool BiCreateImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> h = CreateWorker(ctx->GetArg(1)->ToInt(), ctx->GetArg(2)->ToInt(),
                                     ctx->GetArg(3)->ToInt(), ctx->GetArg(4)->ToInt());
  if (!h) return ReportRuntimeError(kCreateError, ctx), false;
  return SetImageResult(ctx, h), false;
}
bool BiLoadImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  PathArg path(ctx, 1);
  DRef<ImageHandle> h = LoadWorker(path.text, ctx->GetArg(2)->ToInt(), ctx->GetArg(3)->ToInt());
  if (!h) return RaisePathError(ctx, "イメージを読み込めません。", path.text), false;
  return SetImageResult(ctx, h), false;
}
template <bool Duplicate>
bool BiCopyImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> current = CurrentImageHandle();
  if (!DrawOf(current)) return false;
  DRef<ImageHandle> h = CopyWorker(current, ctx->GetArg(1)->ToInt(), ctx->GetArg(2)->ToInt(), Duplicate);
  if (!h) return ReportRuntimeError(kCreateError, ctx), false;
  return SetImageResult(ctx, h), false;
}
bool BiWriteImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  PathArg path(ctx, 1);
  DRef<ImageHandle> current = CurrentImageHandle();
  if (!DrawOf(current)) return false;
  if (!WriteWorker(path.text, ctx->GetArg(2)->ToInt(), current))
    RaisePathError(ctx, "イメージを書き出せません。", path.text);
  return false;
}
bool BiLoadWipe(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  PathArg path(ctx, 1);
  DRef<WipeMap> w = LoadWipeWorker(path.text, ctx->GetArg(2)->ToInt());
  if (!w) return RaisePathError(ctx, "ワイプを読み込めません。", path.text), false;
  SetObjectValue(ctx->result(), kScriptWipe, DRef<void>::Convert(w));
  return false;
}
bool BiGetScreen(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  return SetImageResult(ctx, ScreenImageHandle()), false;
}

// ---- Attribute workers (image present).

void SetPosW(DrawImage& i, int32_t x, int32_t y) {
  i.SetPos(x, y);
  i.SetUpdate();
}
void SetRectW(DrawImage& i, int32_t x, int32_t y, int32_t w, int32_t h) {
  i.SetRect(DRect(x, y, w, h));
  i.SetUpdate();
}
void SetDrawW(DrawImage& i, int32_t flag) {
  i.SetDraw(flag != 0);
  i.SetUpdate();
}
void SetUpdateW(DrawImage& i, int32_t flag) {
  if (flag != 0)
    i.SetUpdate();
  else
    i.SetFlags(i.GetFlags() & ~kImageUpdate);
}
bool IsUpdateW(const DrawImage& i) {
  return (i.GetFlags() & kImageUpdate) != 0;
}
// Unregistered images, and images whose level change failed, read level 0.
int32_t GetLevelW(const DrawImage& i) {
  return i.sprite_list_ ? static_cast<int32_t>(i.level_) : 0;
}
void SetLevelW(DrawImage& i, int32_t level) {
  if (i.GetOwner()) i.GetOwner()->GetSpriteList().SetImageLevel(i, level);
}
void SetTransW(DrawImage& i, int32_t flag, int32_t r, int32_t g, int32_t b) {
  i.SetTrans(flag != 0, Channel(r), Channel(g), Channel(b));
  i.SetUpdate();
}
void SetBlendW(DrawImage& i, int32_t kind) {
  i.SetBlend(static_cast<uint32_t>(kind));
  i.SetUpdate();
}
void PopStatusW(DrawImage& i) {
  i.PopStatus();
  i.SetUpdate();
}
void ConnectW(DrawImage& i, DrawImage* parent) {
  if (parent)
    i.Connect(parent);
  else
    i.Disconnect();
  i.SetUpdate();
}
// Overlap of the two drawn rectangles; sums in 64 bits.
bool HitW(const DrawImage& a, const DrawImage& b, int32_t flags) {
  if (!(flags & 4) && (!a.GetDraw() || !b.GetDraw())) return false;
  auto size = [flags](const DrawImage& i, int64_t* w, int64_t* h) {
    if (flags & 2) {
      *w = i.GetWidth(), *h = i.GetHeight();
    } else {
      *w = i.GetRect().width, *h = i.GetRect().height;
    }
  };
  auto pos = [flags](const DrawImage& i) {
    DPoint64 p;
    if (flags & 1) {
      p = i.GetAbsolutePos64();
    } else {
      p.x = i.GetPos().x, p.y = i.GetPos().y;
    }
    return p;
  };
  int64_t aw, ah, bw, bh;
  size(a, &aw, &ah);
  size(b, &bw, &bh);
  const DPoint64 pa = pos(a), pb = pos(b);
  return pa.x < pb.x + bw && pa.x + aw > pb.x && pa.y < pb.y + bh && pa.y + ah > pb.y;
}

// ---- Attribute built-ins: each acts on the current image and does nothing without one.

// Runs `body` on the current image after the mode test.
template <class F>
bool OnCurrent(ScriptContext* ctx, F body) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> h = CurrentImageHandle();
  if (DrawImage* i = DrawOf(h)) body(*i);
  return false;
}
int32_t IntArg(ScriptContext* ctx, uint32_t k) {
  return ctx->GetArg(k)->ToInt();
}

bool BiSetImagePos(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { SetPosW(i, IntArg(ctx, 1), IntArg(ctx, 2)); });
}
bool BiGetImagePos(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    ctx->SetArgElementInt(1, 0, i.GetPos().x);
    ctx->SetArgElementInt(1, 1, i.GetPos().y);
  });
}
bool BiGetImageAbsPos(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    const DPoint p = i.GetAbsolutePos();
    ctx->SetArgElementInt(1, 0, p.x);
    ctx->SetArgElementInt(1, 1, p.y);
  });
}
bool BiSetImageRect(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    SetRectW(i, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4));
  });
}
bool BiGetImageRect(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    const DRect r = i.GetRect();
    ctx->SetArgElementInt(1, 0, r.x);
    ctx->SetArgElementInt(1, 1, r.y);
    ctx->SetArgElementInt(1, 2, r.width);
    ctx->SetArgElementInt(1, 3, r.height);
  });
}
bool BiGetImageSize(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    ctx->SetArgElementInt(1, 0, i.GetWidth());
    ctx->SetArgElementInt(1, 1, i.GetHeight());
  });
}
bool BiSetImageDraw(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { SetDrawW(i, IntArg(ctx, 1)); });
}
bool BiIsImageDraw(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { ctx->result()->SetBool(i.GetDraw()); });
}
bool BiSetImageUpdate(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { SetUpdateW(i, IntArg(ctx, 1)); });
}
bool BiIsImageUpdate(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { ctx->result()->SetBool(IsUpdateW(i)); });
}
bool BiSetImageLevel(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { SetLevelW(i, IntArg(ctx, 1)); });
}
bool BiGetImageLevel(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { ctx->result()->SetInt(GetLevelW(i)); });
}
bool BiSetImageTrans(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    SetTransW(i, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4));
  });
}
bool BiGetImageTrans(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) {
    uint8_t r, g, b;
    i.GetTransColor(&r, &g, &b);
    ctx->SetArgElementInt(1, 0, r);
    ctx->SetArgElementInt(1, 1, g);
    ctx->SetArgElementInt(1, 2, b);
  });
}
bool BiIsImageTrans(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { ctx->result()->SetBool(i.IsTrans()); });
}
bool BiSetImageFastTrans(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { i.SetFastTrans(IntArg(ctx, 1) != 0); });
}
bool BiSetImageBlend(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { SetBlendW(i, IntArg(ctx, 1)); });
}
bool BiGetImageBlend(ScriptContext* ctx) {
  return OnCurrent(ctx, [ctx](DrawImage& i) { ctx->result()->SetInt(static_cast<int32_t>(i.GetBlend())); });
}
bool BiPushImageStatus(ScriptContext* ctx) {
  return OnCurrent(ctx, [](DrawImage& i) { i.PushStatus(); });
}
bool BiPopImageStatus(ScriptContext* ctx) {
  return OnCurrent(ctx, [](DrawImage& i) { PopStatusW(i); });
}
bool BiConnectImage(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> parent = ObjectOfValueAs<ImageHandle>(*ctx->GetArg(1), kScriptImage);
  if (!DrawOf(parent)) return ctx->RaiseError(kScriptKindErrorBase + kScriptImage), false;
  return OnCurrent(ctx, [&parent](DrawImage& i) { ConnectW(i, DrawOf(parent)); });
}
bool BiDisconnectImage(ScriptContext* ctx) {
  return OnCurrent(ctx, [](DrawImage& i) { ConnectW(i, nullptr); });
}
bool BiIsImageHit(ScriptContext* ctx) {
  if (RefuseInTssMode(ctx)) return false;
  DRef<ImageHandle> other = ObjectOfValueAs<ImageHandle>(*ctx->GetArg(1), kScriptImage);
  if (!DrawOf(other)) return ctx->RaiseError(kScriptKindErrorBase + kScriptImage), false;
  return OnCurrent(ctx,
                   [&](DrawImage& i) { ctx->result()->SetInt(HitW(i, *DrawOf(other), IntArg(ctx, 2))); });
}

}  // namespace

// ---- Exports.

extern "C" {

ApiHandle* ovCreateImage(int32_t width, int32_t height, int32_t level, int32_t flags) noexcept {
  try {
    return NewApiHandle(kScriptImage, DRef<void>::Convert(CreateWorker(width, height, level, flags)));
  } catch (...) {
    return nullptr;
  }
}
ApiHandle* ovLoadImage(const char* path, int32_t level, int32_t flags) noexcept {
  try {
    return NewApiHandle(kScriptImage, DRef<void>::Convert(LoadWorker(path, level, flags)));
  } catch (...) {
    return nullptr;
  }
}
ApiHandle* ovCopyImage(ApiHandle* image, int32_t level, int32_t flags) noexcept {
  try {
    return NewApiHandle(kScriptImage, DRef<void>::Convert(CopyWorker(ExportImage(image, "ovCopyImage"), level,
                                                                     flags, false)));
  } catch (...) {
    return nullptr;
  }
}
ApiHandle* ovDuplicateImage(ApiHandle* image, int32_t level, int32_t flags) noexcept {
  try {
    return NewApiHandle(kScriptImage, DRef<void>::Convert(CopyWorker(ExportImage(image, "ovDuplicateImage"),
                                                                     level, flags, true)));
  } catch (...) {
    return nullptr;
  }
}
int32_t ovWriteImage(const char* path, int32_t format, ApiHandle* image) noexcept {
  try {
    return WriteWorker(path, format, ExportImage(image, "ovWriteImage")) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
ApiHandle* ovGetScreen(void) noexcept {
  try {
    if (InTssMode()) return nullptr;
    return NewApiHandle(kScriptImage, DRef<void>::Convert(ScreenImageHandle()));
  } catch (...) {
    return nullptr;
  }
}
void ovDestroyImage(ApiHandle* image) noexcept {
  try {
    if (!InTssMode()) DestroyApiHandle(image, kScriptImage, "ovDestroyImage");
  } catch (...) {
  }
}
ApiHandle* ovLoadWipe(const char* path, int32_t mode) noexcept {
  try {
    return NewApiHandle(kScriptWipe, DRef<void>::Convert(LoadWipeWorker(path, mode)));
  } catch (...) {
    return nullptr;
  }
}
void ovDestroyWipe(ApiHandle* wipe) noexcept {
  try {
    if (!InTssMode()) DestroyApiHandle(wipe, kScriptWipe, "ovDestroyWipe");
  } catch (...) {
  }
}

}  // extern "C"

namespace {

// Runs `body` on the image behind an export's handle; `fallback` otherwise.
template <class R, class F>
R OnExport(ApiHandle* handle, const char* name, R fallback, F body) noexcept {
  try {
    DRef<ImageHandle> h = ExportImage(handle, name);
    DrawImage* i = DrawOf(h);
    if (!i) return fallback;
    return body(*i);
  } catch (...) {
    return fallback;
  }
}
template <class F>
void OnExportVoid(ApiHandle* handle, const char* name, F body) noexcept {
  try {
    DRef<ImageHandle> h = ExportImage(handle, name);
    if (DrawImage* i = DrawOf(h)) body(*i);
  } catch (...) {
  }
}

}  // namespace

extern "C" {

OvSize ovGetImageSize(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageSize", OvSize{}, [](DrawImage& i) {
    return OvSize{i.GetWidth(), i.GetHeight()};
  });
}
int32_t ovGetImageLevel(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageLevel", int32_t{0}, [](DrawImage& i) { return GetLevelW(i); });
}
void ovSetImageLevel(ApiHandle* image, int32_t level) noexcept {
  OnExportVoid(image, "ovSetImageLevel", [level](DrawImage& i) { SetLevelW(i, level); });
}
void ovConnectImage(ApiHandle* image, ApiHandle* parent) noexcept {
  OnExportVoid(image, "ovConnectImage", [parent](DrawImage& i) {
    DRef<ImageHandle> p = parent ? ExportImage(parent, "ovConnectImage") : DRef<ImageHandle>();
    if (parent && !DrawOf(p)) return;
    ConnectW(i, DrawOf(p));
  });
}
OvPoint ovGetImagePos(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImagePos", OvPoint{}, [](DrawImage& i) {
    return OvPoint{i.GetPos().x, i.GetPos().y};
  });
}
OvPoint ovGetImageAbsPos(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageAbsPos", OvPoint{}, [](DrawImage& i) {
    const DPoint p = i.GetAbsolutePos();
    return OvPoint{p.x, p.y};
  });
}
void ovSetImagePos(ApiHandle* image, int32_t x, int32_t y) noexcept {
  OnExportVoid(image, "ovSetImagePos", [x, y](DrawImage& i) { SetPosW(i, x, y); });
}
OvRect ovGetImageRect(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageRect", OvRect{}, [](DrawImage& i) {
    const DRect r = i.GetRect();
    return OvRect{r.x, r.y, r.width, r.height};
  });
}
void ovSetImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
  OnExportVoid(image, "ovSetImageRect", [=](DrawImage& i) { SetRectW(i, x, y, w, h); });
}
int32_t ovIsImageDraw(ApiHandle* image) noexcept {
  return OnExport(image, "ovIsImageDraw", int32_t{0}, [](DrawImage& i) { return int32_t(i.GetDraw()); });
}
void ovSetImageDraw(ApiHandle* image, int32_t flag) noexcept {
  OnExportVoid(image, "ovSetImageDraw", [flag](DrawImage& i) { SetDrawW(i, flag); });
}
int32_t ovIsImageUpdate(ApiHandle* image) noexcept {
  return OnExport(image, "ovIsImageUpdate", int32_t{0}, [](DrawImage& i) { return int32_t(IsUpdateW(i)); });
}
void ovSetImageUpdate(ApiHandle* image, int32_t flag) noexcept {
  OnExportVoid(image, "ovSetImageUpdate", [flag](DrawImage& i) { SetUpdateW(i, flag); });
}
int32_t ovIsImageTrans(ApiHandle* image) noexcept {
  return OnExport(image, "ovIsImageTrans", int32_t{0}, [](DrawImage& i) { return int32_t(i.IsTrans()); });
}
OvColor ovGetImageTrans(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageTrans", OvColor{}, [](DrawImage& i) {
    OvColor c{};
    i.GetTransColor(&c.r, &c.g, &c.b);
    return c;
  });
}
void ovSetImageTrans(ApiHandle* image, int32_t flag, uint8_t r, uint8_t g, uint8_t b) noexcept {
  OnExportVoid(image, "ovSetImageTrans", [=](DrawImage& i) { SetTransW(i, flag, r, g, b); });
}
void ovSetImageFastTrans(ApiHandle* image, int32_t flag) noexcept {
  OnExportVoid(image, "ovSetImageFastTrans", [flag](DrawImage& i) { i.SetFastTrans(flag != 0); });
}
int32_t ovGetImageBlend(ApiHandle* image) noexcept {
  return OnExport(image, "ovGetImageBlend", int32_t{0}, [](DrawImage& i) { return int32_t(i.GetBlend()); });
}
void ovSetImageBlend(ApiHandle* image, int32_t kind) noexcept {
  OnExportVoid(image, "ovSetImageBlend", [kind](DrawImage& i) { SetBlendW(i, kind); });
}
void ovPushImageStatus(ApiHandle* image) noexcept {
  OnExportVoid(image, "ovPushImageStatus", [](DrawImage& i) { i.PushStatus(); });
}
void ovPopImageStatus(ApiHandle* image) noexcept {
  OnExportVoid(image, "ovPopImageStatus", [](DrawImage& i) { PopStatusW(i); });
}

}  // extern "C"

ORVANE_START_CODE void InstallDrawImageBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {33, Guarded<BiCreateImage>},       {2, Guarded<BiLoadImage>},
      {105, Guarded<BiCopyImage<false>>}, {89, Guarded<BiCopyImage<true>>},
      {144, Guarded<BiWriteImage>},       {244, Guarded<BiLoadWipe>},
      {78, Guarded<BiGetScreen>},         {25, Guarded<BiSetImagePos>},
      {24, Guarded<BiGetImagePos>},       {175, Guarded<BiGetImageAbsPos>},
      {27, Guarded<BiSetImageRect>},      {26, Guarded<BiGetImageRect>},
      {34, Guarded<BiGetImageSize>},      {29, Guarded<BiSetImageDraw>},
      {28, Guarded<BiIsImageDraw>},       {31, Guarded<BiSetImageUpdate>},
      {30, Guarded<BiIsImageUpdate>},     {43, Guarded<BiSetImageLevel>},
      {261, Guarded<BiGetImageLevel>},    {35, Guarded<BiSetImageTrans>},
      {263, Guarded<BiGetImageTrans>},    {262, Guarded<BiIsImageTrans>},
      {36, Guarded<BiSetImageFastTrans>}, {203, Guarded<BiSetImageBlend>},
      {202, Guarded<BiGetImageBlend>},    {189, Guarded<BiPushImageStatus>},
      {190, Guarded<BiPopImageStatus>},   {22, Guarded<BiConnectImage>},
      {23, Guarded<BiDisconnectImage>},   {179, Guarded<BiIsImageHit>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}
