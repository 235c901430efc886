// Fuzz target: the Text unit's stamp with arbitrary box, position, layout and text into a small
// image, and character sets rendering and drawing arbitrary codes with arbitrary flags and
// positions into buffers of exactly the size they are given as.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "display/text/dglyph.h"
#include "display/text/text_unit.h"
#include "imaging/hal/dhal.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  int32_t Int() {
    int32_t v = 0;
    size_t n = std::min<size_t>(size, 4);
    std::memcpy(&v, data, n);
    data += n, size -= n;
    return v;
  }
  uint8_t Byte() {
    if (!size) return 0;
    --size;
    return *data++;
  }
};

// Keeps the canvas from growing to hundreds of megabytes that would only slow the run down;
// sizes beyond the image cap (growth failures) and negative ones stay as they are.
void Tame(int32_t& w, int32_t& h) {
  int64_t cw = std::max<int64_t>(w, 640), ch = std::max<int64_t>(h, 480);
  if (cw * ch > (int64_t{1} << 22) && cw * ch * 2 <= (int64_t{1} << 30))
    w = std::min(w, 2048), h = std::min(h, 2048);
}

void Text(Reader& r) {
  static DGdiCanvas* canvas = [] {
    auto* c = new DGdiCanvas;
    c->Create();
    return c;
  }();
  static DRef<TextFont> fonts[2] = {CreateTextFont(20, 400), CreateTextFont(12, 700)};
  uint8_t sel = r.Byte();
  uint32_t format = (sel & 3) == 0 ? 6 : (sel & 3) == 1 ? 4 : (sel & 3) == 2 ? 2 : 5;
  int32_t iw = r.Byte() % 80, ih = r.Byte() % 60;
  DImage im;
  uint32_t bpp = format == 2 ? 4 : 2;
  if (iw > 0 && ih > 0) im.Create(iw, ih, iw * bpp, static_cast<DimgFormat>(format));
  int32_t x = r.Int(), y = r.Int(), bx = r.Int(), by = r.Int(), bw = r.Int(), bh = r.Int();
  if (sel & 4) {  // small values most of the time
    x %= 200, y %= 200, bx %= 200, by %= 200, bw %= 300, bh %= 300;
  }
  Tame(bw, bh);
  uint32_t layout = static_cast<uint32_t>(r.Int());
  uint16_t colour = static_cast<uint16_t>(r.Int());
  std::string text(reinterpret_cast<const char*>(r.data), std::min<size_t>(r.size, 200));
  canvas->DrawTextToImage(im, *fonts[(sel >> 3) & 1], colour, x, y, DRect(bx, by, bw, bh), text.c_str(),
                          layout);
  if (sel & 16) MeasureTextExtent(*canvas, *fonts[0], text.c_str());
}

void Glyphs(Reader& r) {
  uint32_t flags = r.Byte();
  LOGFONTA lf{};
  lf.lfHeight = -(static_cast<int>(r.Byte() % 48) + 1);
  lf.lfWeight = 400;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::strcpy(lf.lfFaceName, "ＭＳ ゴシック");
  DGlyph g;
  if (!g.Create(flags, lf)) return;
  while (r.size > 0) {
    uint16_t code = static_cast<uint16_t>(r.Int());
    g.Render(code);
    int32_t x = r.Int() % 100, y = r.Int() % 100;
    int32_t w = r.Byte() % 40, h = r.Byte() % 40;
    int32_t extra = r.Byte() % 8;
    uint8_t which = r.Byte() % 3;
    uint32_t bpp = which == 0 ? 1 : which == 1 ? 4 : 2;
    int32_t pitch = w * static_cast<int32_t>(bpp) + extra - 2;  // sometimes too short
    if (pitch < 0) pitch = 0;
    std::vector<uint8_t> buf(static_cast<size_t>(pitch) * h + 1);
    if (which == 0) g.DrawToAlphaPlane(buf.data(), x, y, w, h, pitch);
    if (which == 1) g.DrawToARGB8888(buf.data(), x, y, w, h, pitch);
    if (which == 2) g.DrawToARGB4444(buf.data(), x, y, w, h, pitch);
    if (which == 0)
      for (size_t i = 0; i + 1 < buf.size(); ++i)
        if (buf[i] > 31) __builtin_trap();  // plane levels never exceed 31
    (void)g.GetBoxSize(), (void)g.GetFeed(), (void)g.GetDrawPos();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool hal = DHalInit(6);
  (void)hal;
  if (size < 1 || size > 4096) return 0;
  Reader r{data + 1, size - 1};
  if (data[0] & 1)
    Glyphs(r);
  else
    Text(r);
  return 0;
}
