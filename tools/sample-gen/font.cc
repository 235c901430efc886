#include "tools/sample-gen/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <strings.h>

#include <cstdio>
#include <vector>

namespace samplegen {
namespace {

// The family the platform's text falls back to and the system's gothic face maps to.
constexpr const char* kFamily = "IPAGothic";

struct Face {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  bool fc = false;    // fontconfig was initialised
  std::string error;  // why there is no face

  ~Face() {
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
    if (fc) FcFini();
  }
};

// The face, loaded on first use and kept for the process.
Face& TheFace() {
  static Face f;
  static const bool loaded = [] {
    Face& r = f;
    std::string file;
    int index = 0;
    r.fc = FcInit();
    if (r.fc) {
      FcPattern* p = FcPatternCreate();
      FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(kFamily));
      FcConfigSubstitute(nullptr, p, FcMatchPattern);
      FcDefaultSubstitute(p);
      FcResult res;
      if (FcPattern* m = FcFontMatch(nullptr, p, &res)) {
        FcChar8* fam = nullptr;
        bool family_ok = false;
        for (int i = 0; !family_ok && FcPatternGetString(m, FC_FAMILY, i, &fam) == FcResultMatch; ++i)
          family_ok = strcasecmp(reinterpret_cast<const char*>(fam), kFamily) == 0;
        FcChar8* path = nullptr;
        if (family_ok && FcPatternGetString(m, FC_FILE, 0, &path) == FcResultMatch)
          file = reinterpret_cast<const char*>(path);
        FcPatternGetInteger(m, FC_INDEX, 0, &index);
        FcPatternDestroy(m);
      }
      FcPatternDestroy(p);
    }
    if (file.empty()) {
      r.error = std::string("font ") + kFamily + " not found (fonts-ipafont)";
    } else if (FT_Init_FreeType(&r.library) != 0 ||
               FT_New_Face(r.library, file.c_str(), index, &r.face) != 0) {
      r.error = "cannot load font " + file;
      r.face = nullptr;
    }
    return true;
  }();
  (void)loaded;
  return f;
}

// Decodes UTF-8 into code points; false on a malformed sequence.
bool Decode(std::string_view s, std::vector<char32_t>* out) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    char32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out->push_back(cp);
    i += len;
  }
  return true;
}

// Loads the glyph of cp at the face's current size, rendered as 8-bit coverage. Outlines only:
// the face's embedded bitmaps would give unsmoothed labels at some sizes.
bool LoadGlyph(FT_Face face, char32_t cp, std::string* reason) {
  const FT_UInt index = FT_Get_Char_Index(face, cp);
  if (index == 0) {
    char buf[32];
    snprintf(buf, sizeof buf, "no glyph for U+%04X", static_cast<unsigned>(cp));
    *reason = buf;
    return false;
  }
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL) != 0 ||
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
    *reason = "cannot render a glyph";
    return false;
  }
  return true;
}

int Round26(FT_Pos v) {
  return static_cast<int>((v + 32) >> 6);
}

// Lays out the text, calling each(glyph, pen x) per character when given.
bool Layout(std::string_view utf8, int size, TextExtent* extent, std::string* reason,
            const std::function<void(FT_GlyphSlot, int)>& each) {
  Face& f = TheFace();
  if (f.face == nullptr) return *reason = f.error, false;
  std::vector<char32_t> cps;
  if (!Decode(utf8, &cps)) return *reason = "text is not UTF-8", false;
  if (FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(size)) != 0) return *reason = "bad text size", false;
  TextExtent e;
  e.ascent = Round26(f.face->size->metrics.ascender);
  e.height = e.ascent - Round26(f.face->size->metrics.descender);
  int pen = 0;
  for (char32_t cp : cps) {
    if (!LoadGlyph(f.face, cp, reason)) return false;
    if (each) each(f.face->glyph, pen);
    pen += Round26(f.face->glyph->advance.x);
  }
  e.width = pen;
  *extent = e;
  return true;
}

}  // namespace

bool MeasureText(std::string_view utf8, int size, TextExtent* extent, std::string* reason) {
  return Layout(utf8, size, extent, reason, nullptr);
}

bool RenderText(std::string_view utf8, int size, int x, int y,
                const std::function<void(int, int, std::uint8_t)>& plot, std::string* reason) {
  TextExtent e;
  if (!MeasureText(utf8, size, &e, reason)) return false;
  const int baseline = y + e.ascent;
  return Layout(utf8, size, &e, reason, [&](FT_GlyphSlot g, int pen) {
    const FT_Bitmap& bm = g->bitmap;
    for (unsigned row = 0; row < bm.rows; ++row)
      for (unsigned col = 0; col < bm.width; ++col) {
        const std::uint8_t v = bm.buffer[static_cast<long>(row) * bm.pitch + col];
        if (v)
          plot(x + pen + g->bitmap_left + static_cast<int>(col),
               baseline - g->bitmap_top + static_cast<int>(row), v);
      }
  });
}

}  // namespace samplegen
