// The game's text layout with the real character metrics: the glyph boxes, draw offsets and feeds
// of the fake's character sets come from DGlyph on the platform's fonts, built the way the engine
// builds a character set from the arguments the game passed. The ordinary message window must hold
// its full-width lines and pages without cutting ink, ruby included.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "display/text/dglyph.h"
#include "game/text_layer.h"
#include "platform/gdi.h"
#include "tests/game/sprite_fixture.h"

namespace orvane_test {
namespace {

// The cp932 codes of a text (lead << 8 | trail for double-byte characters).
std::vector<uint16_t> Codes(const char* text) {
  std::vector<uint16_t> out;
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    const bool lead = (*p >= 0x81 && *p <= 0x9F) || (*p >= 0xE0 && *p <= 0xFC);
    out.push_back(lead && p[1] ? static_cast<uint16_t>(p[0] << 8 | p[1]) : *p);
    if (lead && p[1]) ++p;
  }
  return out;
}

// Wide, dense kanji: the worst case for a full line.
const std::vector<uint16_t> kKanji = Codes("鬱響驚護議讓顧纏鑑櫻灘麟鷹龍露欝");
const std::vector<uint16_t> kRuby = Codes("うつ");

class TextWithRealGlyphs : public SpriteTest {
 protected:
  TextWithRealGlyphs() { InitTextLayers(); }

  // Gives the fake the metrics that DGlyph reports for each code in the character set the game
  // made: height, weight index, italic, fixed pitch and quality as the engine turns them into a
  // font and a glyph format.
  void UseRealMetrics(const DRef<DCharRes>& set, const std::vector<uint16_t>& codes) {
    const FakeEngine::Handle* h = engine.Inspect(set->handle);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->values.size(), 5u);
    const std::vector<int32_t>& v = h->values;
    LOGFONTA lf{};
    lf.lfHeight = -std::abs(v[0]);
    lf.lfWeight = v[1] >= 0 && v[1] <= 8 ? 100 * (v[1] + 1) : 400;
    lf.lfItalic = v[2] != 0;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lf.lfQuality = 2;
    lf.lfPitchAndFamily = v[3] ? 0x31 : 0x12;
    std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "%s", h->path.c_str());
    const uint32_t q = static_cast<uint32_t>(v[4]);
    const uint32_t flags = (q & 0x01)   ? kGlyphBitmap
                           : (q & 0x02) ? kGlyphGray2
                           : (q & 0x18) ? 0
                                        : kGlyphGray4;
    DGlyph glyph;
    ASSERT_TRUE(glyph.Create(flags, lf)) << h->path;
    for (uint16_t code : codes) {
      ASSERT_TRUE(glyph.Render(code)) << std::hex << code;
      const DPoint box = glyph.GetBoxSize(), at = glyph.GetDrawPos(), feed = glyph.GetFeed();
      boxes_[code] = {box.x, box.y};
      offsets_[code] = at.y;
      engine.SetGlyph(code, {box.x, box.y, at.x, at.y, feed.x, feed.y});
    }
  }

  struct Draw {
    uint16_t code;
    int x, y, w, h;  // the box on the canvas
  };
  // The characters drawn since the calls were cleared: each ovtsDrawChar with the code rendered
  // last before it.
  std::vector<Draw> Draws() const {
    std::vector<Draw> out;
    uint16_t code = 0;
    for (const std::string& c : engine.Calls()) {
      unsigned value = 0;
      int x = 0, y = 0;
      if (std::sscanf(c.c_str(), "ovRenderChar(%u)", &value) == 1) code = static_cast<uint16_t>(value);
      if (std::sscanf(c.c_str(), "ovtsDrawChar(%d, %d)", &x, &y) == 2) {
        const auto& b = boxes_.at(code);
        out.push_back({code, x, y, b.first, b.second});
      }
    }
    return out;
  }

  std::map<uint16_t, std::pair<int, int>> boxes_;
  std::map<uint16_t, int> offsets_;  // draw offset y
};

TEST_F(TextWithRealGlyphs, TheOrdinaryWindowHoldsSixteenKanjiThreeLinesAndRubyWithoutCuttingInk) {
  constexpr int kW = 800, kH = 200;
  SetTextLayerWindow("def", "", "#000000", 0, 0, kW, kH);
  TextLayerFont f = GetTextLayerFont("def");
  f.size = 40;
  f.chars_per_line = 16;
  f.max_lines = 3;
  f.left_margin = 43;
  f.top_margin = 20;
  f.char_spacing = 5;
  f.line_spacing = 10;
  f.ruby_size = 10;
  SetTextLayerFont("def", f);
  UseRealMetrics(TextLayer(0).normal_set, kKanji);
  UseRealMetrics(TextLayer(0).ruby_set, kRuby);
  ASSERT_FALSE(HasFatalFailure());
  engine.ClearCalls();

  SetRubyMode(true);
  for (uint16_t c : kRuby) DrawTextChar(c);
  SetRubyMode(false);
  for (int i = 0; i < 3 * 16; ++i) EXPECT_TRUE(DrawTextChar(kKanji[i % 16])) << i;
  EXPECT_FALSE(DrawTextChar(kKanji[0]));  // the page is full

  std::vector<Draw> kanji, ruby;
  for (const Draw& d : Draws()) (d.code == kRuby[0] || d.code == kRuby[1] ? ruby : kanji).push_back(d);
  // Each character goes onto the text and the shadow canvas.
  ASSERT_EQ(kanji.size(), 2u * 48);
  ASSERT_EQ(ruby.size(), 2u * kRuby.size());
  for (const Draw& d : Draws()) {
    EXPECT_TRUE(d.x >= 0 && d.y >= 0 && d.x + d.w <= kW && d.y + d.h <= kH)
        << std::hex << d.code << std::dec << " at " << d.x << "," << d.y << " size " << d.w << "x" << d.h;
    EXPECT_GT(d.w * d.h, 0) << std::hex << d.code;
  }
  // Sixteen to a line, three lines: the pen's line is 40 + 10 px apart from y 20, and each line
  // starts at the first one's column.
  for (int i = 0; i < 48; ++i) {
    const Draw& d = kanji[2 * size_t(i)];
    EXPECT_EQ(d.y - offsets_.at(d.code), 20 + 50 * (i / 16)) << i;
  }
  EXPECT_EQ(kanji[2 * 16].x, kanji[0].x);
  EXPECT_EQ(kanji[2 * 32].x, kanji[0].x);
  // The ruby goes over line 1's first kanji, centred on its feed.
  EXPECT_LT(ruby[0].y, kanji[0].y);
}

}  // namespace
}  // namespace orvane_test
