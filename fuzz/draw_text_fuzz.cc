// Fuzz target: DrawTextWrapped with the real IPA font over arbitrary bytes, flags, area, scroll
// and tab width, drawn into a 16-bit DIB section as the text canvas uses it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/ddc.h"

namespace {

int32_t Take(const uint8_t*& data, size_t& size) {
  int32_t v = 0;
  if (size >= 4) {
    std::memcpy(&v, data, 4);
    data += 4;
    size -= 4;
  }
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  static DDC* dc = [] {
    auto* d = new DDC;
    d->CreateCompatible();
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 128, -64, 1, 16, BI_RGB, 0, 0, 0, 0, 0};
    static DBitmap bitmap;
    bitmap.CreateDIBSection(*d, &info, DIB_RGB_COLORS);
    d->SelectObject(bitmap);
    static DFont font;
    font.CreateFixed(20, 400, "ＭＳ ゴシック");
    d->SelectObject(font);
    d->SetBkMode(TRANSPARENT);
    d->SetTextColor(RGB(255, 255, 255));
    return d;
  }();
  uint32_t flags = static_cast<uint32_t>(Take(data, size));
  DRect area(Take(data, size) % 256, Take(data, size) % 256, Take(data, size), Take(data, size));
  DPoint scroll(Take(data, size) % 4096, Take(data, size) % 64);
  int tab = Take(data, size) % 64;
  std::string text(reinterpret_cast<const char*>(data), size);
  uint32_t length = static_cast<uint32_t>(text.size());
  dc->DrawTextWrapped(DString(text.c_str()), length, area, scroll, tab, flags);
  return 0;
}
