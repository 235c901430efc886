// Font objects: a handle table of logical font descriptions and the stock default GUI font.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/gdi.h"

namespace {

// Font handles are small tagged numbers that never collide with null; the stock font has its own.
constexpr UINT_PTR kStockGuiFont = 0x6F000010u;
constexpr UINT_PTR kFirstFont = 0x6F001000u;

std::mutex g_lock;
std::map<UINT_PTR, LOGFONTA> g_fonts;
UINT_PTR g_next = kFirstFont;

LOGFONTA StockGuiFont() {
  LOGFONTA lf{};
  lf.lfHeight = -12;
  lf.lfWeight = 400;
  lf.lfCharSet = SHIFTJIS_CHARSET;
  std::strcpy(lf.lfFaceName, "IPAGothic");
  return lf;
}

}  // namespace

HFONT CreateFontIndirectA(const LOGFONTA* lf) {
  if (!lf) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LOGFONTA copy = *lf;
  copy.lfFaceName[LF_FACESIZE - 1] = 0;
  std::lock_guard<std::mutex> l(g_lock);
  UINT_PTR h = g_next;
  g_next += 4;
  g_fonts.emplace(h, copy);
  return reinterpret_cast<HFONT>(h);
}

int GetObjectA(HGDIOBJ object, int size, LPVOID out) {
  UINT_PTR h = reinterpret_cast<UINT_PTR>(object);
  LOGFONTA lf;
  if (h == kStockGuiFont) {
    lf = StockGuiFont();
  } else {
    std::lock_guard<std::mutex> l(g_lock);
    auto it = g_fonts.find(h);
    if (it == g_fonts.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    lf = it->second;
  }
  if (!out) return static_cast<int>(sizeof(lf));
  if (size <= 0) return 0;
  size_t n = std::min(sizeof(lf), static_cast<size_t>(size));
  std::memcpy(out, &lf, n);
  return static_cast<int>(n);
}

BOOL DeleteObject(HGDIOBJ object) {
  UINT_PTR h = reinterpret_cast<UINT_PTR>(object);
  if (h == kStockGuiFont) return TRUE;
  std::lock_guard<std::mutex> l(g_lock);
  if (!g_fonts.erase(h)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HGDIOBJ GetStockObject(int index) {
  if (index == DEFAULT_GUI_FONT) return reinterpret_cast<HGDIOBJ>(kStockGuiFont);
  return nullptr;
}
