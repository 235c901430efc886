#include "tools/sample-gen/picture.h"

#include <algorithm>
#include <cmath>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_png.h"
#include "tools/sample-gen/font.h"

namespace samplegen {
namespace {

std::uint8_t Mix(int from, int to, std::int64_t step, std::int64_t steps) {
  if (steps <= 0) return static_cast<std::uint8_t>(from);
  return static_cast<std::uint8_t>((from * (steps - step) + to * step + steps / 2) / steps);
}

// The part of the box x, y, w, h inside the canvas, as [x0, x1) x [y0, y1).
struct Span {
  int x0, y0, x1, y1;
};
Span Clip(const Canvas& c, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  return Span{static_cast<int>(std::clamp<std::int64_t>(x, 0, c.width)),
              static_cast<int>(std::clamp<std::int64_t>(y, 0, c.height)),
              static_cast<int>(std::clamp<std::int64_t>(x + w, 0, c.width)),
              static_cast<int>(std::clamp<std::int64_t>(y + h, 0, c.height))};
}

void FillBox(Canvas* c, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, Colour col) {
  const Span s = Clip(*c, x, y, w, h);
  for (int py = s.y0; py < s.y1; ++py)
    for (int px = s.x0; px < s.x1; ++px) c->Blend(px, py, col, 1.0);
}

// Fills every pixel of the box whose samples (4 x 4 per pixel) fall inside a shape, blending the
// colour by the share of samples inside, so edges are smooth.
template <typename Inside>
void FillShape(Canvas* c, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h, Colour col,
               Inside inside) {
  const Span s = Clip(*c, x, y, w, h);
  for (int py = s.y0; py < s.y1; ++py)
    for (int px = s.x0; px < s.x1; ++px) {
      int hits = 0;
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) hits += inside(px + (i + 0.5) / 4, py + (j + 0.5) / 4) ? 1 : 0;
      if (hits) c->Blend(px, py, col, hits / 16.0);
    }
}

bool InEllipse(double x, double y, double cx, double cy, double rx, double ry) {
  const double dx = (x - cx) / rx, dy = (y - cy) / ry;
  return dx * dx + dy * dy <= 1.0;
}

// A standing person seen from the front, in units of its height (width 0.45): a head, a neck,
// rounded shoulders and a body widening a little towards the feet.
bool InFigure(double u, double v) {
  if (v < 0 || v > 1 || u < 0 || u > 0.45) return false;
  const double mid = 0.225;
  if (InEllipse(u, v, mid, 0.105, 0.085, 0.1)) return true;
  if (v >= 0.19 && v <= 0.25 && std::fabs(u - mid) <= 0.04) return true;
  if (v >= 0.22 && v < 0.3) return InEllipse(u, v, mid, 0.3, 0.2, 0.08);
  if (v >= 0.3) return std::fabs(u - mid) <= 0.2 + 0.025 * (v - 0.3) / 0.7;
  return false;
}

std::string At(const Op& op, const std::string& reason) {
  return "line " + std::to_string(op.line) + ": " + reason;
}

bool DrawText(Canvas* c, const Op& op, std::string* error) {
  const bool centred = op.kind == OpKind::kCText;
  const int size = static_cast<int>(op.n[centred ? 4 : 2]);
  TextExtent e;
  std::string reason;
  if (!MeasureText(op.text, size, &e, &reason)) return *error = At(op, reason), false;
  std::int64_t x = op.n[0], y = op.n[1];
  if (centred) {
    x += (op.n[2] - e.width) / 2;
    y += (op.n[3] - e.height) / 2;
  }
  if (x >= c->width || y >= c->height || x + e.width <= 0 || y + e.height <= 0)
    return *error = At(op, "outside the picture"), false;
  const auto plot = [&](int px, int py, std::uint8_t v) {
    if (px >= 0 && py >= 0 && px < c->width && py < c->height) c->Blend(px, py, op.c1, v / 255.0);
  };
  if (!RenderText(op.text, size, static_cast<int>(x), static_cast<int>(y), plot, &reason))
    return *error = At(op, reason), false;
  return true;
}

void DrawRamp(Canvas* c, const Op& op) {
  const Span s = Clip(*c, op.n[0], op.n[1], op.n[2], op.n[3]);
  const std::int64_t w = op.n[2], h = op.n[3];
  const double cx = op.n[0] + (w - 1) / 2.0, cy = op.n[1] + (h - 1) / 2.0;
  const double corner = std::max(1e-9, std::hypot((w - 1) / 2.0, (h - 1) / 2.0));
  for (int py = s.y0; py < s.y1; ++py)
    for (int px = s.x0; px < s.x1; ++px) {
      std::uint8_t v;
      if (op.ramp == RampShape::kHorizontal) {
        v = Mix(0, 255, px - op.n[0], w - 1);
      } else if (op.ramp == RampShape::kVertical) {
        v = Mix(0, 255, py - op.n[1], h - 1);
      } else {
        const double d = std::min(1.0, std::hypot(px - cx, py - cy) / corner);
        v = static_cast<std::uint8_t>(std::lround(d * 255));
      }
      c->Put(px, py, Colour{v, v, v, 255});
    }
}

}  // namespace

Canvas::Canvas(int w, int h, bool with_alpha)
    : width(w), height(h), alpha(with_alpha), px(static_cast<size_t>(w) * h * 4, 0) {
  if (!alpha)
    for (size_t i = 3; i < px.size(); i += 4) px[i] = 255;
}

void Canvas::Put(int x, int y, Colour c) {
  std::uint8_t* p = At(x, y);
  p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = alpha ? c.a : 255;
}

void Canvas::Blend(int x, int y, Colour c, double coverage) {
  std::uint8_t* p = At(x, y);
  const double sa = c.a / 255.0 * coverage;
  const double da = p[3] / 255.0;
  const double oa = sa + da * (1 - sa);
  if (oa <= 0) return;
  const std::uint8_t src[3] = {c.r, c.g, c.b};
  for (int k = 0; k < 3; ++k)
    p[k] = static_cast<std::uint8_t>(std::lround((src[k] * sa + p[k] * da * (1 - sa)) / oa));
  p[3] = static_cast<std::uint8_t>(std::lround(oa * 255));
}

bool DrawPicture(const Asset& asset, Canvas* c, std::string* error) {
  for (const Op& op : asset.ops) {
    const auto& n = op.n;
    switch (op.kind) {
      case OpKind::kFill:
        for (int y = 0; y < c->height; ++y)
          for (int x = 0; x < c->width; ++x) c->Put(x, y, op.c1);
        break;
      case OpKind::kRect:
        FillBox(c, n[0], n[1], n[2], n[3], op.c1);
        break;
      case OpKind::kFrame: {
        const std::int64_t t = n[4];
        if (2 * t >= n[2] || 2 * t >= n[3]) {  // the sides meet: every pixel once
          FillBox(c, n[0], n[1], n[2], n[3], op.c1);
          break;
        }
        FillBox(c, n[0], n[1], n[2], t, op.c1);
        FillBox(c, n[0], n[1] + n[3] - t, n[2], t, op.c1);
        FillBox(c, n[0], n[1] + t, t, n[3] - 2 * t, op.c1);
        FillBox(c, n[0] + n[2] - t, n[1] + t, t, n[3] - 2 * t, op.c1);
        break;
      }
      case OpKind::kVGrad:
      case OpKind::kHGrad: {
        const bool vertical = op.kind == OpKind::kVGrad;
        const Span s = Clip(*c, n[0], n[1], n[2], n[3]);
        const std::int64_t steps = (vertical ? n[3] : n[2]) - 1;
        for (int y = s.y0; y < s.y1; ++y)
          for (int x = s.x0; x < s.x1; ++x) {
            const std::int64_t k = vertical ? y - n[1] : x - n[0];
            c->Put(x, y,
                   Colour{Mix(op.c1.r, op.c2.r, k, steps), Mix(op.c1.g, op.c2.g, k, steps),
                          Mix(op.c1.b, op.c2.b, k, steps), Mix(op.c1.a, op.c2.a, k, steps)});
          }
        break;
      }
      case OpKind::kEllipse: {
        const double cx = static_cast<double>(n[0]), cy = static_cast<double>(n[1]);
        const double rx = static_cast<double>(n[2]), ry = static_cast<double>(n[3]);
        FillShape(c, n[0] - n[2], n[1] - n[3], 2 * n[2], 2 * n[3], op.c1,
                  [&](double x, double y) { return InEllipse(x, y, cx, cy, rx, ry); });
        break;
      }
      case OpKind::kFigure: {
        const double h = static_cast<double>(n[2]);
        FillShape(c, n[0], n[1], (n[2] * 45 + 99) / 100, n[2], op.c1,
                  [&](double x, double y) { return InFigure((x - n[0]) / h, (y - n[1]) / h); });
        break;
      }
      case OpKind::kText:
      case OpKind::kCText:
        if (!DrawText(c, op, error)) return false;
        break;
      case OpKind::kRamp:
        DrawRamp(c, op);
        break;
      case OpKind::kTone:
        return *error = At(op, "a tone in a picture"), false;
    }
  }
  return true;
}

bool EncodePng(const Canvas& c, std::string* png) {
  DImage image;
  if (!image.CreateAligned(c.width, c.height, c.alpha ? DimgFormat::RGBA8888 : DimgFormat::RGB888))
    return false;
  const int bpp = c.alpha ? 4 : 3;
  for (int y = 0; y < c.height; ++y) {
    std::uint8_t* row = image.GetPixelPointer(0, y);
    const std::uint8_t* src = &c.px[static_cast<size_t>(y) * c.width * 4];
    for (int x = 0; x < c.width; ++x)
      for (int k = 0; k < bpp; ++k) row[x * bpp + k] = src[x * 4 + k];
  }
  // The writer needs a file; a memory file of the worst case (stored blocks) holds any result.
  const std::uint64_t room = static_cast<std::uint64_t>(c.height) * (c.width * bpp + 1) * 2 + 65536;
  if (room > 0xFFFFFFF0u) return false;
  DFile file;
  if (!file.OpenMemory(static_cast<std::uint32_t>(room), DFile::kRead | DFile::kWrite)) return false;
  if (!DimgWritePNG(file, image, c.alpha)) return false;
  const std::int64_t size = file.Tell();
  if (size <= 0 || !file.Seek(DFile::kSeekStart, 0)) return false;
  png->assign(static_cast<size_t>(size), '\0');
  return file.Read(png->data(), static_cast<std::uint32_t>(size)) == size;
}

}  // namespace samplegen
