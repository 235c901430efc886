// Fuzz target: random sequences of text layer operations (characters, ruby, links, indent, line
// feeds, pages, colours, fonts with extreme layouts, windows, log sizes, layer choice) on the
// stand-in engine, whose glyphs have odd, negative and empty metrics. A play-ending error is
// followed by the game's clean-up, which must leave nothing live.
#include <cstring>

#include "fuzz/game_stand_in_engine.h"
#include "game/text_layer.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return static_cast<int32_t>(v);
  }
  // Mostly small values, sometimes the extremes.
  int32_t Value() {
    const uint8_t kind = Byte();
    if (kind < 200) return static_cast<int8_t>(Byte());
    if (kind < 240) return static_cast<int16_t>(Byte() << 8 | Byte());
    return Int();
  }
  bool Done() const { return at >= size; }
};

const char* const kNames[] = {"", "def", "system", "SUB", "x", "y", "z"};

void Operation(Input& in) {
  const uint8_t op = in.Byte() % 16;
  switch (op) {
    case 0:
    case 1: {
      const uint8_t lead = in.Byte();
      DrawTextChar(static_cast<uint16_t>(lead >= 0x81 ? lead << 8 | in.Byte() : lead));
      break;
    }
    case 2:
      SetRubyMode(in.Byte() & 1);
      break;
    case 3:
      SetTextLink("target", in.Byte() & 1);
      break;
    case 4:
      TextLayerLineFeed(kNames[in.Byte() % 3]);
      break;
    case 5:
      ClearTextLayer(kNames[in.Byte() % 3]);
      break;
    case 6: {
      TextLayerFont f = GetTextLayerFont("");
      f.size = in.Value();
      f.heavy = in.Byte() & 1;
      f.chars_per_line = in.Value();
      f.max_lines = in.Value();
      f.left_margin = in.Value();
      f.top_margin = in.Value();
      f.char_spacing = in.Value();
      f.line_spacing = in.Value();
      f.shadow = in.Byte() & 1;
      f.shadow_dx = in.Value();
      f.shadow_dy = in.Value();
      f.ruby_size = in.Value();
      f.ruby_gap = in.Value();
      SetTextLayerFont("", f);
      break;
    }
    case 7:
      SetIndent(in.Byte() & 1);
      break;
    case 8:
      if (in.Byte() & 1) {
        SetTextColor(in.Byte() / 255.0f, 0, 1);
        SetShadowColor(0, in.Byte() / 255.0f, 0);
      } else {
        ResetTextColor();
        ResetShadowColor();
      }
      break;
    case 9:
      SetTextLayerLogSize("", in.Value());
      break;
    case 10:
      SelectTextLayer(kNames[in.Byte() % 7]);
      break;
    case 11:
      CreateTextLayer(kNames[in.Byte() % 7]);
      break;
    case 12:
      SetTextLayerWindow("", "", "#000000", in.Value(), in.Value(), in.Byte() % 64, in.Byte() % 64);
      break;
    case 13: {
      int32_t x, y;
      GetPageCursorPos(&x, &y);
      SetTextLayerPos("", in.Value(), in.Value());
      break;
    }
    case 14:
      if (in.Byte() & 1) {
        ShowTextLayer(kNames[in.Byte() % 3]);
      } else {
        HideTextLayer(kNames[in.Byte() % 3]);
      }
      break;
    case 15:
      SetBold(in.Byte() & 1);
      sprSetSize(WindowSpriteOf(CurrentTextLayer()), in.Byte() % 3, in.Byte() % 3);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  using namespace stand_in_engine;
  Input in{data, size};
  StartPlay();
  bool playing = false;
  for (int steps = 0; !in.Done() && steps < 300; ++steps) {
    try {
      if (!playing) {
        playing = true;
        InitTextLayers();
      }
      Operation(in);
    } catch (const DExceptGame&) {
      EndPlay();
      StartPlay();
      playing = false;
    }
  }
  EndPlay();
  return 0;
}
