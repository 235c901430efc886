// Fonts and text: logical fonts matched to font files (the Japanese system faces to the IPA
// fonts, others through fontconfig), rendered with FreeType, glyphs cached per face and size;
// cp932 decoding, text metrics, extents, drawing and glyph outlines.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_SYNTHESIS_H
#include FT_GLYPH_H
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <iconv.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>

#include "platform/gdi_internal.h"
#include "platform/host.h"

namespace orvane::gdi {
namespace {

// ---------------------------------------------------------------- cp932

// cp932 to UTF-32, made once with iconv: single bytes by their value, double-byte characters by
// lead << 8 | trail; 0 marks a byte or pair that is no character.
struct Cp932Table {
  std::vector<char32_t> code = std::vector<char32_t>(0x10000, 0);

  Cp932Table() {
    for (unsigned c = 0; c < 0x80; ++c) code[c] = c;
    iconv_t cd = iconv_open("UTF-32LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    auto convert = [&](const char* in, size_t n) -> char32_t {
      char buf[8];
      char* ip = const_cast<char*>(in);
      char* op = buf;
      size_t il = n, ol = sizeof(buf);
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0 || op - buf != 4) return 0;
      char32_t v;
      std::memcpy(&v, buf, 4);
      return v;
    };
    for (unsigned c = 0xA1; c <= 0xDF; ++c) {
      char b = static_cast<char>(c);
      code[c] = convert(&b, 1);
    }
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (lead > 0x9F && lead < 0xE0) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        char b[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        code[(lead << 8) | trail] = convert(b, 2);
      }
    }
    iconv_close(cd);
  }
};

const Cp932Table& Cp932() {
  static const Cp932Table t;
  return t;
}

bool IsLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The characters of cp932 text: (code point, bytes); a pair or byte that is no character reads
// as U+FFFF (drawn as the missing glyph); a lead byte without its trail ends the text.
struct Char {
  char32_t cp;
  int bytes;
};
std::vector<Char> Decode(const char* text, int count) {
  std::vector<Char> out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  const Cp932Table& t = Cp932();
  for (int i = 0; i < count;) {
    unsigned c = s[i];
    if (IsLead(static_cast<unsigned char>(c))) {
      if (i + 1 >= count || s[i + 1] == 0) break;
      char32_t cp = t.code[(c << 8) | s[i + 1]];
      out.push_back({cp ? cp : 0xFFFF, 2});
      i += 2;
    } else {
      char32_t cp = t.code[c];
      out.push_back({cp || c == 0 ? cp : 0xFFFF, 1});
      ++i;
    }
  }
  return out;
}

// The length of text within count: cut at the first NUL. -1 for a negative count.
int TextLength(const char* text, long long count) {
  if (!text || count < 0) return -1;
  const void* nul = std::memchr(text, 0, static_cast<size_t>(count));
  return static_cast<int>(nul ? static_cast<const char*>(nul) - text : count);
}

// ---------------------------------------------------------------- libraries

// FreeType and fontconfig are opened with the first font that is realised, not at process start,
// so a program that draws no text (the headless runner, a script without text) never maps them
// and their own dependencies. Each function is looked up by name once.
// clang-format off
#define ORVANE_FREETYPE_FUNCTIONS(X)                                                               \
  X(FT_Init_FreeType) X(FT_Done_FreeType) X(FT_New_Face) X(FT_Done_Face) X(FT_Set_Pixel_Sizes)     \
  X(FT_Get_Sfnt_Table) X(FT_Get_Char_Index) X(FT_Load_Glyph) X(FT_GlyphSlot_Embolden)              \
  X(FT_GlyphSlot_Oblique) X(FT_Get_Glyph) X(FT_Glyph_To_Bitmap) X(FT_Done_Glyph) X(FT_Render_Glyph)
#define ORVANE_FONTCONFIG_FUNCTIONS(X)                                                             \
  X(FcInit) X(FcFini) X(FcPatternCreate) X(FcPatternAddString) X(FcLangSetCreate) X(FcLangSetAdd)  \
  X(FcPatternAddLangSet) X(FcLangSetDestroy) X(FcPatternAddInteger) X(FcWeightFromOpenType)        \
  X(FcConfigSubstitute) X(FcDefaultSubstitute) X(FcFontMatch) X(FcPatternGetString)                \
  X(FcPatternDestroy)
// clang-format on

constexpr const char* kFreeTypeLibrary = "libfreetype.so.6";
constexpr const char* kFontconfigLibrary = "libfontconfig.so.1";

struct FontLibrary {
#define ORVANE_FONT_POINTER(name) decltype(&::name) name = nullptr;
  ORVANE_FREETYPE_FUNCTIONS(ORVANE_FONT_POINTER)
  ORVANE_FONTCONFIG_FUNCTIONS(ORVANE_FONT_POINTER)
#undef ORVANE_FONT_POINTER
  std::string error;  // why the libraries are unusable; empty when every function was found

  FontLibrary() {
    void* ft = Open(kFreeTypeLibrary);
    void* fc = ft ? Open(kFontconfigLibrary) : nullptr;
    if (!fc) return;
#define ORVANE_FONT_LOOKUP(name) \
  if (error.empty()) Find(lib, #name, &name);
    void* lib = ft;
    ORVANE_FREETYPE_FUNCTIONS(ORVANE_FONT_LOOKUP)
    lib = fc;
    ORVANE_FONTCONFIG_FUNCTIONS(ORVANE_FONT_LOOKUP)
#undef ORVANE_FONT_LOOKUP
  }

  void* Open(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);  // stays loaded for the rest of the run
    if (!handle) {
      const char* why = dlerror();
      error = why ? why : name;
    }
    return handle;
  }

  template <typename F>
  void Find(void* lib, const char* name, F* fn) {
    *fn = reinterpret_cast<F>(dlsym(lib, name));
    if (!*fn) error = std::string(name) + ": no such function in the font libraries";
  }
};

// The font libraries, opened by the first call. Never destroyed: the font system's destructor at
// exit still calls into them.
const FontLibrary& Lib() {
  static const FontLibrary* const lib = new FontLibrary;
  return *lib;
}

// Whether the font libraries are usable. When they are not, the reason goes to stderr once and
// every font stays unrealised (text calls fail as they do when no face file loads).
bool FontLibraryLoaded() {
  static const bool loaded = [] {
    if (Lib().error.empty()) return true;
    std::fprintf(stderr, "orvane: fonts are unavailable, text cannot be drawn: %s\n", Lib().error.c_str());
    return false;
  }();
  return loaded;
}

// ---------------------------------------------------------------- faces

struct Glyph {
  int advance = 0;
  int left = 0, top = 0;  // bitmap's top-left from the pen on the baseline, y up
  int width = 0, height = 0;
  int pitch = 0;
  std::vector<std::uint8_t> bits;  // mono: 1 bit a pixel, most significant first; gray: a byte
};

// One realised font: a face file at one size with its synthetic styles and its glyph caches.
struct Face {
  FT_Face face = nullptr;
  int ppem = 0;
  bool bold = false, italic = false, underline = false, strike = false;
  TEXTMETRICA tm{};
  int underline_pos = 1;  // below the baseline, pixels
  int underline_thickness = 1;
  std::unordered_map<char32_t, Glyph> mono;
  std::unordered_map<char32_t, Glyph> gray;

  ~Face() {
    if (face) Lib().FT_Done_Face(face);
  }
};

struct FontSystem {
  FT_Library lib = nullptr;
  bool fc = false;
  std::map<std::string, std::string> files;  // match key -> file
  std::map<std::string, std::unique_ptr<Face>> faces;

  ~FontSystem() {
    faces.clear();
    if (lib) Lib().FT_Done_FreeType(lib);
    if (fc) Lib().FcFini();
  }
};

FontSystem& Fonts() {
  static FontSystem f;
  if (!f.lib && FontLibraryLoaded()) {
    Lib().FT_Init_FreeType(&f.lib);
    f.fc = Lib().FcInit();
  }
  return f;
}

// The Japanese system faces, as the programs name them, and the IPA families they map to.
struct FaceAlias {
  const char* name;
  const char* family;
};
const FaceAlias kAliases[] = {
    {"ＭＳ ゴシック", "IPAGothic"},
    {"ＭＳ Ｐゴシック", "IPAPGothic"},
    {"ＭＳ 明朝", "IPAMincho"},
    {"ＭＳ Ｐ明朝", "IPAPMincho"},
};

// The file of the best fontconfig match for a family and style; empty when there is none.
std::string FcFile(const std::string& family_utf8, bool japanese, bool mono, int weight, bool italic,
                   bool exact_family) {
  if (!Fonts().fc) return "";
  FcPattern* p = Lib().FcPatternCreate();
  if (!family_utf8.empty())
    Lib().FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family_utf8.c_str()));
  if (japanese) {
    FcLangSet* ls = Lib().FcLangSetCreate();
    Lib().FcLangSetAdd(ls, reinterpret_cast<const FcChar8*>("ja"));
    Lib().FcPatternAddLangSet(p, FC_LANG, ls);
    Lib().FcLangSetDestroy(ls);
  }
  if (mono) Lib().FcPatternAddInteger(p, FC_SPACING, FC_MONO);
  if (weight > 0) Lib().FcPatternAddInteger(p, FC_WEIGHT, Lib().FcWeightFromOpenType(std::min(weight, 1000)));
  if (italic) Lib().FcPatternAddInteger(p, FC_SLANT, FC_SLANT_ITALIC);
  Lib().FcConfigSubstitute(nullptr, p, FcMatchPattern);
  Lib().FcDefaultSubstitute(p);
  FcResult res;
  FcPattern* m = Lib().FcFontMatch(nullptr, p, &res);
  std::string file;
  if (m) {
    FcChar8* f = nullptr;
    bool family_ok = !exact_family;
    FcChar8* fam = nullptr;
    for (int i = 0; !family_ok && Lib().FcPatternGetString(m, FC_FAMILY, i, &fam) == FcResultMatch; ++i)
      family_ok = strcasecmp(reinterpret_cast<const char*>(fam), family_utf8.c_str()) == 0;
    if (family_ok && Lib().FcPatternGetString(m, FC_FILE, 0, &f) == FcResultMatch)
      file = reinterpret_cast<const char*>(f);
    Lib().FcPatternDestroy(m);
  }
  Lib().FcPatternDestroy(p);
  return file;
}

std::string MatchFile(const LOGFONTA& lf) {
  char key[128];
  std::snprintf(key, sizeof(key), "%s|%d|%d|%d|%d", lf.lfFaceName, lf.lfCharSet, lf.lfPitchAndFamily & 3,
                static_cast<int>(lf.lfWeight), lf.lfItalic ? 1 : 0);
  FontSystem& fs = Fonts();
  auto it = fs.files.find(key);
  if (it != fs.files.end()) return it->second;
  std::string file;
  const char* family = nullptr;
  for (const FaceAlias& a : kAliases)
    if (std::strcmp(a.name, lf.lfFaceName) == 0) family = a.family;
  if (family) {
    file = FcFile(family, false, false, 0, false, true);
  } else {
    file = FcFile(orvane::host::Cp932ToUtf8(lf.lfFaceName), lf.lfCharSet == SHIFTJIS_CHARSET,
                  (lf.lfPitchAndFamily & 3) == FIXED_PITCH, lf.lfWeight, lf.lfItalic != 0, false);
  }
  if (file.empty()) file = FcFile("IPAGothic", false, false, 0, false, true);
  fs.files.emplace(key, file);
  return file;
}

long long RoundDiv(long long a, long long b) {
  return (2 * a + b) / (2 * b);
}

void Metrics(Face& f, const LOGFONTA& lf, long long h) {
  FT_Face face = f.face;
  long long upem = face->units_per_EM ? face->units_per_EM : 1000;
  long long win_a, win_d;
  auto* os2 = static_cast<TT_OS2*>(Lib().FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
    win_a = os2->usWinAscent, win_d = os2->usWinDescent;
  } else {
    win_a = face->ascender, win_d = -face->descender;
    if (win_a + win_d <= 0) win_a = upem * 4 / 5, win_d = upem / 5;
  }
  TEXTMETRICA& tm = f.tm;
  if (h > 0) {
    f.ppem = static_cast<int>(std::max(1LL, RoundDiv(h * upem, win_a + win_d)));
    tm.tmHeight = static_cast<LONG>(h);
    tm.tmAscent = static_cast<LONG>(RoundDiv(h * win_a, win_a + win_d));
    tm.tmDescent = tm.tmHeight - tm.tmAscent;
  } else {
    f.ppem = static_cast<int>(-h);
    tm.tmAscent = static_cast<LONG>(RoundDiv(f.ppem * win_a, upem));
    tm.tmDescent = static_cast<LONG>(RoundDiv(f.ppem * win_d, upem));
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
  }
  tm.tmInternalLeading = std::max<LONG>(tm.tmHeight - f.ppem, 0);
  tm.tmExternalLeading = 0;
  tm.tmAveCharWidth = static_cast<LONG>(os2 ? RoundDiv(os2->xAvgCharWidth * f.ppem, upem) : f.ppem / 2);
  tm.tmMaxCharWidth = static_cast<LONG>(RoundDiv((face->bbox.xMax - face->bbox.xMin) * f.ppem, upem));
  tm.tmWeight = lf.lfWeight > 0 ? lf.lfWeight : FW_NORMAL;
  tm.tmOverhang = 0;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
  tm.tmFirstChar = 0x20;
  tm.tmLastChar = 0xFC;
  tm.tmDefaultChar = 0x1F;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = lf.lfItalic ? 1 : 0;
  tm.tmUnderlined = lf.lfUnderline ? 1 : 0;
  tm.tmStruckOut = lf.lfStrikeOut ? 1 : 0;
  bool fixed = FT_IS_FIXED_WIDTH(face) || (lf.lfPitchAndFamily & 3) == FIXED_PITCH;
  tm.tmPitchAndFamily = static_cast<BYTE>((fixed ? 0 : TMPF_FIXED_PITCH) | TMPF_VECTOR | TMPF_TRUETYPE |
                                          (lf.lfPitchAndFamily & 0xF0));
  tm.tmCharSet = lf.lfCharSet == DEFAULT_CHARSET ? SHIFTJIS_CHARSET : lf.lfCharSet;
  f.underline_pos = std::max(1, static_cast<int>(RoundDiv(-face->underline_position * f.ppem, upem)));
  f.underline_thickness = std::max(1, static_cast<int>(RoundDiv(face->underline_thickness * f.ppem, upem)));
}

// The realised font of a description; made (and traced) on first use. Null only when not even
// the fallback face loads.
Face* Realize(const LOGFONTA& lf) {
  long long h = lf.lfHeight == 0 ? 16 : lf.lfHeight;
  h = std::clamp(h, -1024LL, 1024LL);  // sizes beyond any screen are cut
  std::string file = MatchFile(lf);
  bool bold = lf.lfWeight >= 600, italic = lf.lfItalic != 0;
  char key[512];
  std::snprintf(key, sizeof(key), "%s|%lld|%d%d%d%d", file.c_str(), h, bold, italic, lf.lfUnderline != 0,
                lf.lfStrikeOut != 0);
  FontSystem& fs = Fonts();
  auto it = fs.faces.find(key);
  if (it != fs.faces.end()) return it->second.get();
  auto f = std::make_unique<Face>();
  if (!fs.lib || file.empty() || Lib().FT_New_Face(fs.lib, file.c_str(), 0, &f->face) != 0) {
    f->face = nullptr;
    return nullptr;
  }
  // Styles the face does not have are made synthetically.
  f->bold = bold && !(f->face->style_flags & FT_STYLE_FLAG_BOLD);
  f->italic = italic && !(f->face->style_flags & FT_STYLE_FLAG_ITALIC);
  f->underline = lf.lfUnderline != 0;
  f->strike = lf.lfStrikeOut != 0;
  Metrics(*f, lf, h);
  Lib().FT_Set_Pixel_Sizes(f->face, 0, static_cast<FT_UInt>(f->ppem));
  char trace[512];
  std::snprintf(trace, sizeof(trace), "font '%s' %ld -> %s", lf.lfFaceName, static_cast<long>(lf.lfHeight),
                file.c_str());
  orvane::host::RecordTrace(trace);
  Face* raw = f.get();
  fs.faces.emplace(key, std::move(f));
  return raw;
}

std::uint64_t g_renders = 0;
std::uint64_t g_outline_calls = 0;

// A cache entry from a rendered bitmap: mono rows of (width + 7) / 8 bytes, or a byte a pixel.
Glyph FromBitmap(const FT_Bitmap& bm, int left, int top, int advance, bool gray) {
  Glyph g;
  g.advance = advance;
  g.width = static_cast<int>(bm.width);
  g.height = static_cast<int>(bm.rows);
  if (g.width <= 0 || g.height <= 0 || !bm.buffer) {
    g.width = g.height = 0;
    return g;
  }
  g.left = left;
  g.top = top;
  g.pitch = gray ? g.width : (g.width + 7) / 8;
  g.bits.resize(static_cast<size_t>(g.pitch) * static_cast<size_t>(g.height));
  for (int y = 0; y < g.height; ++y) {
    const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(bm.pitch) * y;
    std::memcpy(g.bits.data() + static_cast<size_t>(g.pitch) * static_cast<size_t>(y), src,
                static_cast<size_t>(g.pitch));
  }
  // A bitmap without ink (a space rendered as one empty pixel) is a blank glyph: no black box.
  if (std::all_of(g.bits.begin(), g.bits.end(), [](std::uint8_t b) { return b == 0; })) {
    g.width = g.height = g.pitch = 0;
    g.left = g.top = 0;
    g.bits.clear();
  }
  return g;
}

// The cached glyph of a character, mono (drawing, ABC widths) or gray (outlines). A miss loads
// the glyph once (hinted for monochrome: the advances the pen moves by) and renders both forms,
// so a size query, a fetch and the ABC widths of one code cost one render.
const Glyph& GetGlyph(Face& f, char32_t cp, bool gray) {
  auto& cache = gray ? f.gray : f.mono;
  auto it = cache.find(cp);
  if (it != cache.end()) return it->second;
  ++g_renders;
  Glyph mono, coverage;
  FT_UInt index = cp == 0xFFFF ? 0 : Lib().FT_Get_Char_Index(f.face, cp);
  if (Lib().FT_Load_Glyph(f.face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO) == 0) {
    FT_GlyphSlot slot = f.face->glyph;
    if (f.bold) Lib().FT_GlyphSlot_Embolden(slot);
    if (f.italic) Lib().FT_GlyphSlot_Oblique(slot);
    int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    FT_Glyph copy = nullptr;
    if (Lib().FT_Get_Glyph(slot, &copy) == 0) {
      if (Lib().FT_Glyph_To_Bitmap(&copy, FT_RENDER_MODE_NORMAL, nullptr, 1) == 0) {
        auto* bg = reinterpret_cast<FT_BitmapGlyph>(copy);
        coverage = FromBitmap(bg->bitmap, bg->left, bg->top, advance, true);
      } else {
        coverage.advance = advance;
      }
      Lib().FT_Done_Glyph(copy);
    }
    if (Lib().FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) == 0) {
      mono = FromBitmap(slot->bitmap, slot->bitmap_left, slot->bitmap_top, advance, false);
    } else {
      mono.advance = advance;
    }
  }
  f.gray.emplace(cp, std::move(coverage));
  f.mono.emplace(cp, std::move(mono));
  return cache.find(cp)->second;
}

// The realised font selected into a DC.
Face* DcFace(Dc* d) {
  if (!d->st.font) return nullptr;
  return Realize(d->st.font->font);
}

int Advance(Face& f, const Char& c) {
  return GetGlyph(f, c.cp, false).advance;
}

// Draws decoded text at logical (x, y) = cell top-left, clipped to the canvas rectangle clip.
// Returns the pen's end x.
long long DrawChars(const Canvas& c, Face& f, const std::vector<Char>& chars, long long x, long long y,
                    const RECT& clip, std::uint32_t px, const int* spacing) {
  long long pen = x;
  long long base = y + f.tm.tmAscent;
  int byte = 0;
  for (const Char& ch : chars) {
    const Glyph& g = GetGlyph(f, ch.cp, false);
    long long gx = pen + g.left + c.ox, gy = base - g.top + c.oy;
    for (int r = 0; r < g.height; ++r) {
      long long cy = gy + r;
      if (cy < clip.top || cy >= clip.bottom) continue;
      std::uint8_t* row = c.Row(static_cast<int>(cy));
      const std::uint8_t* bits = g.bits.data() + static_cast<size_t>(g.pitch) * r;
      for (int col = 0; col < g.width; ++col) {
        if (!(bits[col >> 3] & (0x80 >> (col & 7)))) continue;
        long long cx = gx + col;
        if (cx < clip.left || cx >= clip.right) continue;
        Put(c.format, row, static_cast<int>(cx), px);
      }
    }
    if (spacing) {
      long long adv = 0;
      for (int k = 0; k < ch.bytes; ++k) adv += spacing[byte + k];
      pen += adv;
    } else {
      pen += g.advance;
    }
    byte += ch.bytes;
  }
  auto line = [&](long long ly, int thick) {
    RECT r{
        static_cast<LONG>(std::clamp(std::min(x, pen) + c.ox, (long long)clip.left, (long long)clip.right)),
        static_cast<LONG>(std::clamp(ly + c.oy, (long long)clip.top, (long long)clip.bottom)),
        static_cast<LONG>(std::clamp(std::max(x, pen) + c.ox, (long long)clip.left, (long long)clip.right)),
        static_cast<LONG>(std::clamp(ly + thick + c.oy, (long long)clip.top, (long long)clip.bottom))};
    for (int yy = r.top; yy < r.bottom; ++yy) FillSpan(c, yy, r.left, r.right, px);
  };
  if (f.underline) line(base + f.underline_pos, f.underline_thickness);
  if (f.strike) line(base - f.tm.tmAscent / 3, f.underline_thickness);
  return pen;
}

RECT ClipOf(const Canvas& c, const RECT& logical) {
  return ClipLogical(c, logical.left, logical.top, logical.right, logical.bottom);
}

// Text output shared by TextOutA and ExtTextOutA.
BOOL Output(HDC dc, int x, int y, UINT options, const RECT* rect, const char* text, long long count,
            const int* spacing) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d) return FALSE;
  int n = text ? TextLength(text, count) : 0;
  if (n < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Face* f = DcFace(d);
  if (!f) return FALSE;
  Canvas c;
  if (!BeginDraw(d, &c)) return FALSE;
  std::vector<Char> chars = Decode(text ? text : "", n);
  long long width = 0;
  if (spacing) {
    for (int i = 0; i < n; ++i) width += spacing[i];
  } else {
    for (const Char& ch : chars) width += Advance(*f, ch);
  }
  RECT clip = c.clip;
  if (rect && (options & ETO_OPAQUE)) {
    RECT r = ClipOf(c, *rect);
    std::uint32_t bg = Encode(c.format, d->st.bk_color);
    for (int yy = r.top; yy < r.bottom; ++yy) FillSpan(c, yy, r.left, r.right, bg);
    c.Touch(r);
  }
  if (rect && (options & ETO_CLIPPED)) clip = ClipOf(c, *rect);
  if (d->st.bk_mode == OPAQUE) {
    RECT r = ClipLogical(c, std::min<long long>(x, x + width), y, std::max<long long>(x, x + width),
                         static_cast<long long>(y) + f->tm.tmHeight);
    RECT rc{std::max(r.left, clip.left), std::max(r.top, clip.top), std::min(r.right, clip.right),
            std::min(r.bottom, clip.bottom)};
    std::uint32_t bg = Encode(c.format, d->st.bk_color);
    for (int yy = rc.top; yy < rc.bottom; ++yy)
      if (rc.right > rc.left) FillSpan(c, yy, rc.left, rc.right, bg);
  }
  DrawChars(c, *f, chars, x, y, clip, Encode(c.format, d->st.text_color), spacing);
  RECT touched = ClipLogical(c, std::min<long long>(x, x + width) - f->ppem, y,
                             std::max<long long>(x, x + width) + f->ppem,
                             static_cast<long long>(y) + f->tm.tmHeight + f->underline_thickness + 1);
  c.Touch({std::max(touched.left, clip.left), std::max(touched.top, clip.top),
           std::min(touched.right, clip.right), std::min(touched.bottom, clip.bottom)});
  EndDraw(&c);
  return TRUE;
}

// The character of a GetGlyphOutlineA / GetCharABCWidthsA code; false for no cp932 character.
bool CodeChar(UINT code, char32_t* cp) {
  const Cp932Table& t = Cp932();
  if (code <= 0xFF) {
    if (IsLead(static_cast<unsigned char>(code))) return false;
    *cp = t.code[code];
    return *cp != 0 || code == 0;
  }
  if (code > 0xFFFF || !IsLead(static_cast<unsigned char>(code >> 8))) return false;
  *cp = t.code[code];
  return *cp != 0;
}

long long ExtentOf(Face& f, const char* text, int n) {
  long long w = 0;
  for (const Char& ch : Decode(text, n)) w += Advance(f, ch);
  return w;
}

}  // namespace

std::uint64_t GlyphRenders() {
  std::lock_guard<std::recursive_mutex> l(Lock());
  return g_renders;
}

std::uint64_t GlyphOutlineCalls() {
  std::lock_guard<std::recursive_mutex> l(Lock());
  return g_outline_calls;
}

}  // namespace orvane::gdi

using namespace orvane::gdi;

BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d || !metrics) return FALSE;
  Face* f = DcFace(d);
  if (!f) return FALSE;
  *metrics = f->tm;
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, SIZE* size) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d || !size) return FALSE;
  int n = text ? TextLength(text, count) : (count == 0 ? 0 : -1);
  if (n < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Face* f = DcFace(d);
  if (!f) return FALSE;
  long long w = ExtentOf(*f, text ? text : "", n);
  size->cx = static_cast<LONG>(std::min<long long>(w, INT32_MAX));
  size->cy = f->tm.tmHeight;
  return TRUE;
}

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int count) {
  return Output(dc, x, y, 0, nullptr, text, count, nullptr);
}

BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count,
                 const int* spacing) {
  if (!text && count > 0) return FALSE;
  return Output(dc, x, y, options, rect, text, static_cast<long long>(count), spacing);
}

int DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d || !rect || !text) return 0;
  int n = TextLength(text, count < 0 ? INT32_MAX : count);
  Face* f = DcFace(d);
  if (!f) return 0;
  const int width = rect->right - rect->left;
  const int line_h = f->tm.tmHeight;
  // Lines: at line feeds (a CR before one is dropped), and with DT_WORDBREAK at the width.
  std::vector<std::string> lines;
  std::string cur;
  long long cur_w = 0;
  auto push = [&] {
    lines.push_back(cur);
    cur.clear();
    cur_w = 0;
  };
  for (int i = 0; i < n;) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!(format & DT_SINGLELINE) && (c == '\n' || (c == '\r' && i + 1 < n && text[i + 1] == '\n'))) {
      i += c == '\r' ? 2 : 1;
      push();
      continue;
    }
    int len = IsLead(c) ? (i + 1 < n ? 2 : 0) : 1;
    if (len == 0) break;
    std::string piece(text + i, static_cast<size_t>(len));
    if (c == '&' && !(format & DT_NOPREFIX)) {
      // A prefix character: "&&" is one '&', "&x" is x.
      if (i + 1 < n && text[i + 1] == '&')
        ++i;
      else {
        ++i;
        continue;
      }
    }
    if (c == '\t' && (format & DT_EXPANDTABS)) piece = std::string(8, ' ');
    long long w = ExtentOf(*f, piece.data(), static_cast<int>(piece.size()));
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && !cur.empty() && cur_w + w > width) push();
    cur += piece;
    cur_w += w;
    i += len;
  }
  if (!cur.empty() || lines.empty()) push();
  int total = static_cast<int>(std::min<long long>(static_cast<long long>(lines.size()) * line_h, INT32_MAX));
  if (format & DT_CALCRECT) {
    long long widest = 0;
    for (auto& s : lines) widest = std::max(widest, ExtentOf(*f, s.data(), static_cast<int>(s.size())));
    rect->right = static_cast<LONG>(std::min<long long>(rect->left + widest, INT32_MAX));
    rect->bottom =
        static_cast<LONG>(std::min<long long>(static_cast<long long>(rect->top) + total, INT32_MAX));
    return total;
  }
  long long y = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER)
      y = rect->top + (static_cast<long long>(rect->bottom - rect->top) - line_h) / 2;
    else if (format & DT_BOTTOM)
      y = static_cast<long long>(rect->bottom) - line_h;
  }
  UINT opts = (format & DT_NOCLIP) ? 0 : ETO_CLIPPED;
  for (auto& s : lines) {
    long long w = ExtentOf(*f, s.data(), static_cast<int>(s.size()));
    long long x = rect->left;
    if (format & DT_CENTER)
      x = rect->left + (width - w) / 2;
    else if (format & DT_RIGHT)
      x = rect->right - w;
    Output(dc, static_cast<int>(std::clamp<long long>(x, INT32_MIN, INT32_MAX)),
           static_cast<int>(std::clamp<long long>(y, INT32_MIN, INT32_MAX)), opts, rect, s.data(),
           static_cast<long long>(s.size()), nullptr);
    y += line_h;
  }
  return total;
}

BOOL GetCharABCWidthsA(HDC dc, UINT first, UINT last, ABC* widths) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  Dc* d = FindDc(dc);
  if (!d || !widths || last < first || last > 0xFFFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Face* f = DcFace(d);
  if (!f) return FALSE;
  for (UINT code = first; code <= last; ++code) {
    char32_t cp;
    if (!CodeChar(code, &cp)) cp = 0xFFFF;
    const Glyph& g = GetGlyph(*f, cp, false);
    ABC& abc = widths[code - first];
    abc.abcA = g.width ? g.left : 0;
    abc.abcB = static_cast<UINT>(g.width);
    abc.abcC = g.advance - abc.abcA - g.width;
  }
  return TRUE;
}

DWORD GetGlyphOutlineA(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size, LPVOID buffer,
                       const MAT2*) {
  std::lock_guard<std::recursive_mutex> l(Lock());
  ++g_outline_calls;
  Dc* d = FindDc(dc);
  char32_t cp;
  if (!d || !metrics || !CodeChar(code, &cp)) return GDI_ERROR;
  if (format != GGO_METRICS && format != GGO_BITMAP &&
      (format < GGO_GRAY2_BITMAP || format > GGO_GRAY8_BITMAP))
    return GDI_ERROR;
  Face* f = DcFace(d);
  if (!f) return GDI_ERROR;
  bool gray = format >= GGO_GRAY2_BITMAP;
  const Glyph& g = GetGlyph(*f, cp, gray);
  *metrics = GLYPHMETRICS{};
  metrics->gmBlackBoxX = static_cast<UINT>(g.width);
  metrics->gmBlackBoxY = static_cast<UINT>(g.height);
  metrics->gmptGlyphOrigin = {g.left, g.top};
  metrics->gmCellIncX = static_cast<short>(g.advance);
  if (format == GGO_METRICS || g.width == 0) return 0;
  DWORD row = gray ? (static_cast<DWORD>(g.width) + 3) / 4 * 4 : (static_cast<DWORD>(g.width) + 31) / 32 * 4;
  DWORD need = row * static_cast<DWORD>(g.height);
  if (!buffer || size == 0) return need;
  if (size < need) return GDI_ERROR;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::memset(out, 0, need);
  int levels = format == GGO_GRAY2_BITMAP ? 4 : format == GGO_GRAY4_BITMAP ? 16 : 64;
  for (int y = 0; y < g.height; ++y) {
    const std::uint8_t* src = g.bits.data() + static_cast<size_t>(g.pitch) * y;
    std::uint8_t* dst = out + static_cast<size_t>(row) * y;
    if (gray) {
      for (int x = 0; x < g.width; ++x) dst[x] = static_cast<std::uint8_t>((src[x] * levels + 127) / 255);
    } else {
      std::memcpy(dst, src, static_cast<size_t>(g.pitch));
    }
  }
  return need;
}
