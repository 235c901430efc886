// Text layers and the drawing of characters onto their canvases.
#include "game/text_layer.h"

#include <algorithm>
#include <cstring>

#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/tokenizer.h"
#include "platform/mmsystem.h"

namespace {

DTextLayer g_layers[kTextLayerCount];
int32_t g_current = 0;
uint32_t g_last_char_time = 0;

int32_t Saturate(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// In double, exact for every result within 32 bits: lines x line height may pass 64 bits.
int32_t SaturateDouble(double v) {
  return v >= 2147483647.0 ? INT32_MAX : v <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(v);
}

void SetColor(float out[4], float r, float g, float b) {
  out[0] = r;
  out[1] = g;
  out[2] = b;
  out[3] = 0.0f;
}

void CopyColor(float out[4], const float in[4]) {
  for (int i = 0; i < 4; ++i) out[i] = in[i];
}

bool RgbDiffers(const float a[4], const float b[4]) {
  return a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
}

// Quality flags of a set: one-bit glyphs for small sizes, 65 grey levels above; both cached.
int32_t Quality(int32_t size) {
  return size > 12 ? 0x30 : 0x21;
}

DTextLayer& Layer(const char* name) {
  return g_layers[FindTextLayer(name)];
}

int32_t IndexOf(const DTextLayer& layer) {
  return static_cast<int32_t>(&layer - g_layers);
}

bool Shown(int32_t index) {
  const DSprite& s = Sprite(WindowSpriteOf(index));
  return (s.flags & (kSpriteValid | kSpriteRealized)) == (kSpriteValid | kSpriteRealized);
}

void Hide(int32_t index) {
  for (int32_t slot : {WindowSpriteOf(index), TextSpriteOf(index), ShadowSpriteOf(index)}) {
    sprCheck(slot);
    sprHide(slot, "none");
  }
}

void Show(int32_t target) {
  for (int32_t i = 0; i < kTextLayerCount; ++i) {
    if (g_layers[i].name[0] == '\0' || (i != target && !Shown(i))) continue;
    Hide(i);
    sprCheck(WindowSpriteOf(i));
    sprShow(WindowSpriteOf(i), kNoSprite, "none");
    sprCheck(ShadowSpriteOf(i));
    if (g_layers[i].shadow) {
      sprShow(ShadowSpriteOf(i), kNoSprite, "none");
    } else {
      sprHide(ShadowSpriteOf(i), "none");
    }
    sprCheck(TextSpriteOf(i));
    sprShow(TextSpriteOf(i), kNoSprite, "none");
  }
}

void SetPos(DTextLayer& layer, int32_t x, int32_t y) {
  const int32_t i = IndexOf(layer);
  layer.x = x;
  layer.y = y;
  const uint32_t flags = ParseDisplayStyle("left top", 0);
  sprSetPos(WindowSpriteOf(i), x, y, flags);
  sprSetPos(TextSpriteOf(i), x, y, flags);
  sprSetPos(ShadowSpriteOf(i), Saturate(int64_t{x} + layer.shadow_dx), Saturate(int64_t{y} + layer.shadow_dy),
            flags);
}

void LineFeed(DTextLayer& layer) {
  if (layer.has_log_line && layer.log_length > 0) {
    // With no capacity there is no log to keep the line in: it is discarded.
    if (layer.log_capacity > 0) {
      if (static_cast<int32_t>(layer.log.size()) >= layer.log_capacity) layer.log.pop_front();
      layer.log.emplace_back(layer.log_line, static_cast<size_t>(layer.log_length));
    }
  }
  layer.has_log_line = false;
  layer.log_length = 0;
  if (layer.line < layer.max_lines) {
    ++layer.line;
    layer.saved_x = layer.pen_x;
    layer.saved_y = layer.pen_y;
    layer.pen_x = layer.left_margin;
    layer.pen_y = Saturate(int64_t{layer.pen_y} + layer.font_size + layer.line_spacing);
    layer.column = 0;
  }
}

void ClearLinks(DTextLayer& layer) {
  layer.open_link.Release();
  layer.links.clear();
  layer.selected_link.Release();
}

void Clear(DTextLayer& layer) {
  LineFeed(layer);
  layer.current_set = layer.normal_set;
  CopyColor(layer.color, layer.default_color);
  CopyColor(layer.page_color, layer.default_color);
  CopyColor(layer.shadow_color, layer.default_shadow_color);
  CopyColor(layer.page_shadow_color, layer.default_shadow_color);
  layer.char_wait = layer.default_char_wait;
  layer.indent_column = layer.indent_x = 0;
  layer.ruby_mode = false;
  layer.ruby_length = 0;
  ClearLinks(layer);
  const float* c = layer.page_color;
  if (layer.text_image) g_engine.ovtsFillImage(layer.text_image->handle, c[0], c[1], c[2], c[3]);
  const float* s = layer.page_shadow_color;
  if (layer.shadow && layer.shadow_image)
    g_engine.ovtsFillImage(layer.shadow_image->handle, s[0], s[1], s[2], s[3]);
  layer.pen_x = layer.saved_x = layer.left_margin;
  layer.pen_y = layer.saved_y = layer.top_margin;
  layer.line = 0;
  layer.column = 0;
}

struct Glyph {
  OvSize box;
  OvPoint offset;
  OvSize feed;
};

Glyph Render(const DRef<DCharRes>& set, uint16_t ch) {
  ApiHandle* handle = set ? set->handle : nullptr;
  if (!g_engine.ovRenderChar(handle, ch)) FatalError("文字が表示できません。");
  return {g_engine.ovGetCharBoxSize(handle), g_engine.ovGetCharDrawPos(handle),
          g_engine.ovGetCharFeedSize(handle)};
}

// Fills the glyph's box first when the colour differs from the page's, then draws the glyph.
void Put(const DRef<DImageRes>& image, const DRef<DCharRes>& set, const Glyph& g, int32_t x, int32_t y,
         bool fill, const float color[4]) {
  if (!image) return;
  const int32_t gx = Saturate(int64_t{x} + g.offset.x), gy = Saturate(int64_t{y} + g.offset.y);
  if (fill)
    g_engine.ovtsFillImageRect(image->handle, gx, gy, g.box.width, g.box.height, color[0], color[1], color[2],
                               color[3]);
  g_engine.ovtsDrawChar(image->handle, gx, gy, set->handle);
}

void DrawRuby(DTextLayer& layer, int32_t old_x, int32_t feed, int32_t ruby_y, bool differs,
              bool shadow_differs) {
  layer.ruby[layer.ruby_length] = '\0';
  int64_t total = 0;
  for (const char* p = layer.ruby;;) {
    const CharCode c = ReadChar(p);
    if (c == 0) break;
    total += Render(layer.ruby_set, c).feed.width;
  }
  int64_t rx = int64_t{old_x} + (feed >> 1) - (Saturate(total) >> 1);
  for (const char* p = layer.ruby;;) {
    const CharCode c = ReadChar(p);
    if (c == 0) break;
    const Glyph g = Render(layer.ruby_set, c);
    Put(layer.text_image, layer.ruby_set, g, Saturate(rx), ruby_y, differs, layer.color);
    if (layer.shadow)
      Put(layer.shadow_image, layer.ruby_set, g, Saturate(rx), ruby_y, shadow_differs, layer.shadow_color);
    rx += g.feed.width;
  }
}

}  // namespace

DTextLayer& TextLayer(int32_t index) {
  return g_layers[index];
}

int32_t CurrentTextLayer() {
  return g_current;
}

uint32_t LastTextCharTime() {
  return g_last_char_time;
}

void ResetTextLayerGlobals() {
  for (DTextLayer& layer : g_layers) layer = DTextLayer{};
  g_current = 0;
  g_last_char_time = 0;
}

void InitTextLayers() {
  for (DTextLayer& layer : g_layers) {
    layer.name[0] = '\0';
    layer.level = 80;
  }
  g_current = 0;
  sprCreateColor(kLinkSprite, 1, "#0000ff60", 1, 1, 0, 0, 0, 0, 95, 0, "wipefade hide", "none");
  CreateTextLayer("def");
  CreateTextLayer("system");
  g_current = FindTextLayer("def");
  HideTextLayer("system");
  SetTextLayerLevel("system", 1);
}

void CreateTextLayer(const char* name) {
  if (!name || name[0] == '\0') ScriptError("テキストレイヤー名が指定されていません。");
  for (const DTextLayer& layer : g_layers)
    if (layer.name[0] != '\0' && DStrCompareNoCase(layer.name, name) == 0)
      ScriptError("テキストレイヤー \"%s\" は既に存在します。", name);
  DTextLayer* free_layer = nullptr;
  for (DTextLayer& layer : g_layers) {
    if (layer.name[0] == '\0') {
      free_layer = &layer;
      break;
    }
  }
  if (!free_layer) ScriptError("これ以上テキストレイヤーを作成できません");
  DTextLayer& layer = *free_layer;
  DStrCopyToCharBoundary(name, layer.name, sizeof(layer.name));
  layer.level = 80;
  SetColor(layer.default_color, 1, 1, 1);
  SetColor(layer.color, 1, 1, 1);
  SetColor(layer.default_shadow_color, 0, 0, 0);
  SetColor(layer.shadow_color, 0, 0, 0);
  layer.default_char_wait = layer.char_wait = 30;
  SetTextLayerLogSize(layer.name, 0);
  SetTextLayerWindow(layer.name, "", "#00000080", 0, 0, 0, 0);
  ShowTextLayer(layer.name);
}

int32_t FindTextLayer(const char* name) {
  if (!name || name[0] == '\0') return g_current;
  for (int32_t i = 0; i < kTextLayerCount; ++i)
    if (g_layers[i].name[0] != '\0' && DStrCompareNoCase(g_layers[i].name, name) == 0) return i;
  ScriptError("テキストレイヤー \"%s\" は存在しません。", name);
}

void SelectTextLayer(const char* name) {
  g_current = FindTextLayer(name && name[0] ? name : "def");
}

bool IsTextLayerShown(const char* name) {
  return Shown(FindTextLayer(name));
}

void ShowTextLayer(const char* name) {
  Show(FindTextLayer(name));
}

void HideTextLayer(const char* name) {
  Hide(FindTextLayer(name));
}

void SetTextLayerWindow(const char* name, const char* definition, const char* color, int32_t x, int32_t y,
                        int32_t width, int32_t height) {
  DTextLayer& layer = Layer(name);
  const int32_t i = IndexOf(layer);
  layer.x = x;
  layer.y = y;
  const bool shown = Shown(i);
  const int32_t window = WindowSpriteOf(i);
  if (definition && definition[0]) {
    LoadSpriteDef(window, 1, definition, x, y, layer.level, kStyleHide | kStyleWipeFade, "none");
    sprCheck(window);
    // The canvases keep the picture's size even when the window is stretched.
    sprGetSize(window, &layer.width, &layer.height);
    sprSetSize(window, width > 0 ? width : layer.width, height > 0 ? height : layer.height);
  } else {
    sprCreateColor(window, 1, color, 1, 1, x, y, width > 0 ? width : GetScreenWidth(),
                   height > 0 ? height : GetScreenHeight(), layer.level, kStyleHide | kStyleWipeFade, "",
                   "none");
    sprCheck(window);
    sprGetSize(window, &layer.width, &layer.height);
  }
  layer.window_image = sprGetImage(window);
  sprCreateColor(TextSpriteOf(i), 1, "black", layer.width, layer.height, x, y, 0, 0, layer.level, 0,
                 "hide wipefade", "none");
  layer.text_image = sprGetImage(TextSpriteOf(i));
  sprCreateColor(ShadowSpriteOf(i), 1, "black", layer.width, layer.height, x, y, 0, 0, layer.level, 0,
                 "hide wipefade", "none");
  layer.shadow_image = sprGetImage(ShadowSpriteOf(i));
  if (shown) Show(i);
  TextLayerFont font;
  std::strcpy(font.font, "ＭＳ ゴシック");
  font.size = 24;
  font.heavy = true;
  font.chars_per_line = 24;
  font.max_lines = 17;
  font.left_margin = 8;
  font.top_margin = 16;
  font.char_spacing = 0;
  font.line_spacing = 2;
  font.shadow = true;
  font.shadow_dx = 2;
  font.shadow_dy = 3;
  std::strcpy(font.ruby_font, "ＭＳ ゴシック");
  font.ruby_size = 10;
  font.ruby_gap = -2;
  SetTextLayerFont(layer.name, font);
}

void SetTextLayerFont(const char* name, const TextLayerFont& font) {
  DTextLayer& layer = Layer(name);
  DStrCopyToCharBoundary(font.font, layer.font, sizeof(layer.font));
  layer.font_size = font.size;
  layer.heavy = font.heavy;
  layer.line_width = Saturate(int64_t{2} * font.chars_per_line);
  layer.max_lines = font.max_lines;
  layer.left_margin = font.left_margin;
  layer.top_margin = font.top_margin;
  layer.char_spacing = font.char_spacing;
  layer.line_spacing = font.line_spacing;
  layer.shadow = font.shadow;
  layer.shadow_dx = font.shadow_dx;
  layer.shadow_dy = font.shadow_dy;
  DStrCopyToCharBoundary(font.ruby_font, layer.ruby_font, sizeof(layer.ruby_font));
  layer.ruby_size = font.ruby_size;
  layer.ruby_gap = font.ruby_gap;
  layer.normal_set =
      CreateCharRes(layer.font, layer.font_size, layer.heavy ? 5 : 3, 0, 1, Quality(layer.font_size));
  layer.bold_set =
      CreateCharRes(layer.font, layer.font_size, layer.heavy ? 7 : 6, 0, 1, Quality(layer.font_size));
  layer.ruby_set = CreateCharRes(layer.ruby_font, layer.ruby_size, 3, 0, 1, Quality(layer.ruby_size));
  const int32_t i = IndexOf(layer);
  if (Shown(i)) Show(i);
  SetPos(layer, layer.x, layer.y);
  Clear(layer);
}

TextLayerFont GetTextLayerFont(const char* name) {
  const DTextLayer& layer = Layer(name);
  TextLayerFont font;
  std::memcpy(font.font, layer.font, sizeof(font.font));
  font.size = layer.font_size;
  font.heavy = layer.heavy;
  font.chars_per_line = layer.line_width / 2;
  font.max_lines = layer.max_lines;
  font.left_margin = layer.left_margin;
  font.top_margin = layer.top_margin;
  font.char_spacing = layer.char_spacing;
  font.line_spacing = layer.line_spacing;
  font.shadow = layer.shadow;
  font.shadow_dx = layer.shadow_dx;
  font.shadow_dy = layer.shadow_dy;
  std::memcpy(font.ruby_font, layer.ruby_font, sizeof(font.ruby_font));
  font.ruby_size = layer.ruby_size;
  font.ruby_gap = layer.ruby_gap;
  return font;
}

void SetTextLayerPos(const char* name, int32_t x, int32_t y) {
  SetPos(Layer(name), x, y);
}

void SetTextLayerLevel(const char* name, int32_t level) {
  DTextLayer& layer = Layer(name);
  const int32_t i = IndexOf(layer);
  layer.level = Saturate(int64_t{level} + 80);
  sprSetLevel(WindowSpriteOf(i), layer.level);
  sprSetLevel(ShadowSpriteOf(i), layer.level);
  sprSetLevel(TextSpriteOf(i), layer.level);
}

void SetTextLayerColor(const char* name, float r, float g, float b) {
  DTextLayer& layer = Layer(name);
  SetColor(layer.default_color, r, g, b);
  SetColor(layer.color, r, g, b);
}

void SetTextLayerShadowColor(const char* name, float r, float g, float b) {
  DTextLayer& layer = Layer(name);
  SetColor(layer.default_shadow_color, r, g, b);
  SetColor(layer.shadow_color, r, g, b);
}

void SetTextLayerCharWait(const char* name, int32_t ms) {
  DTextLayer& layer = Layer(name);
  layer.default_char_wait = layer.char_wait = ms;
}

void SetTextLayerLogSize(const char* name, int32_t lines) {
  DTextLayer& layer = Layer(name);
  layer.log_capacity = lines < 0 ? 0 : lines > kMaxLogLines ? kMaxLogLines : lines;
  while (static_cast<int32_t>(layer.log.size()) > layer.log_capacity) layer.log.pop_front();
}

void DestroyTextLayers() {
  for (int32_t i = 0; i < kTextLayerCount; ++i) {
    if (g_layers[i].name[0] == '\0') continue;
    for (int32_t slot : {TextSpriteOf(i), WindowSpriteOf(i), ShadowSpriteOf(i)}) {
      sprHide(slot, "none");
      sprDestroy(slot);
    }
    g_layers[i] = DTextLayer{};
  }
  sprHide(kLinkSprite, "none");
  sprDestroy(kLinkSprite);
}

void SetTextColor(float r, float g, float b) {
  SetColor(g_layers[g_current].color, r, g, b);
}

void ResetTextColor() {
  CopyColor(g_layers[g_current].color, g_layers[g_current].default_color);
}

void SetShadowColor(float r, float g, float b) {
  SetColor(g_layers[g_current].shadow_color, r, g, b);
}

void ResetShadowColor() {
  CopyColor(g_layers[g_current].shadow_color, g_layers[g_current].default_shadow_color);
}

void SetCharWait(int32_t ms) {
  g_layers[g_current].char_wait = ms;
}

void ResetCharWait() {
  g_layers[g_current].char_wait = g_layers[g_current].default_char_wait;
}

void SetBold(bool bold) {
  DTextLayer& layer = g_layers[g_current];
  layer.current_set = bold ? layer.bold_set : layer.normal_set;
}

void SetIndent(bool on) {
  DTextLayer& layer = g_layers[g_current];
  layer.indent_column = on ? layer.column : 0;
  layer.indent_x = on ? layer.pen_x : 0;
}

void SetRubyMode(bool on) {
  DTextLayer& layer = g_layers[g_current];
  if (on && !layer.ruby_mode) layer.ruby_length = 0;
  layer.ruby_mode = on;
}

bool IsRubyMode() {
  return g_layers[g_current].ruby_mode;
}

bool HasTextLinks() {
  return !g_layers[g_current].links.empty();
}

void ClearTextLayer(const char* name) {
  Clear(Layer(name));
}

void TextLayerLineFeed(const char* name) {
  LineFeed(Layer(name));
}

void ClearTextLinks(const char* name) {
  ClearLinks(Layer(name));
}

bool DrawTextChar(uint16_t ch) {
  DTextLayer& layer = g_layers[g_current];
  g_last_char_time = timeGetTime();
  const bool wide = ch > 0xFF;
  const int32_t bytes = wide ? 2 : 1;
  if (layer.ruby_mode) {
    if (layer.ruby_length + bytes < 256) {
      if (wide) layer.ruby[layer.ruby_length++] = static_cast<char>(ch >> 8);
      layer.ruby[layer.ruby_length++] = static_cast<char>(ch & 0xFF);
    }
    return false;
  }
  bool placed = false;
  bool fed = false;
  while (layer.line < layer.max_lines) {
    layer.saved_x = layer.pen_x;
    layer.saved_y = layer.pen_y;
    if (layer.column < layer.indent_column) {
      layer.column = layer.indent_column;
      layer.pen_x = layer.indent_x;
    }
    layer.column = Saturate(int64_t{layer.column} + bytes);
    if (layer.column <= layer.line_width) {
      placed = true;
      break;
    }
    if (fed) {
      // It did not fit a fresh line, so it fits none: the remaining lines are fed at once
      // rather than one by one (a huge page would take billions of steps).
      const int64_t step = int64_t{layer.font_size} + layer.line_spacing;
      const int64_t remaining = int64_t{layer.max_lines} - layer.line;
      layer.saved_x = layer.pen_x;  // where the last feed would find the pen
      layer.saved_y =
          SaturateDouble(layer.pen_y + static_cast<double>(remaining - 1) * static_cast<double>(step));
      layer.pen_x = layer.left_margin;
      layer.pen_y = SaturateDouble(layer.pen_y + static_cast<double>(remaining) * static_cast<double>(step));
      layer.column = 0;
      layer.line = layer.max_lines;
      break;
    }
    LineFeed(layer);
    fed = true;
  }
  if (!placed) return false;
  if (layer.log_capacity != 0) {
    if (!layer.has_log_line) {
      layer.has_log_line = true;
      layer.log_length = 0;
    }
    if (layer.log_length + bytes < static_cast<int32_t>(kLogLineSize)) {
      if (wide) layer.log_line[layer.log_length++] = static_cast<char>(ch >> 8);
      layer.log_line[layer.log_length++] = static_cast<char>(ch & 0xFF);
    }
  }
  const bool differs = RgbDiffers(layer.color, layer.page_color);
  const bool shadow_differs = layer.shadow && RgbDiffers(layer.shadow_color, layer.page_shadow_color);
  const Glyph g = Render(layer.current_set, ch);
  Put(layer.text_image, layer.current_set, g, layer.pen_x, layer.pen_y, differs, layer.color);
  if (layer.shadow)
    Put(layer.shadow_image, layer.current_set, g, layer.pen_x, layer.pen_y, shadow_differs,
        layer.shadow_color);
  const int32_t old_x = layer.pen_x;
  layer.pen_x = Saturate(int64_t{old_x} + g.feed.width + layer.char_spacing);
  int32_t left = old_x, top = layer.pen_y, right = Saturate(int64_t{layer.pen_x} - 1);
  const int32_t bottom = Saturate(int64_t{layer.pen_y} + layer.font_size + layer.line_spacing - 1);
  if (layer.ruby_length != 0) {
    const int32_t ruby_y = Saturate(int64_t{layer.pen_y} - (int64_t{layer.ruby_size} + layer.ruby_gap));
    top = ruby_y;
    DrawRuby(layer, old_x, g.feed.width, ruby_y, differs, shadow_differs);
    layer.ruby_length = 0;
  }
  if (layer.open_link) {
    DTextLink& link = *layer.open_link;
    link.left = std::min(link.left, left);
    link.top = std::min(link.top, top);
    link.right = std::max(link.right, right);
    link.bottom = std::max(link.bottom, bottom);
  }
  return true;
}

void GetPageCursorPos(int32_t* x, int32_t* y) {
  const DTextLayer& layer = g_layers[g_current];
  const int32_t half = Saturate(int64_t{layer.font_size} + layer.line_spacing) >> 1;
  const bool full = layer.line >= layer.max_lines;
  const int64_t px = full ? layer.saved_x : layer.pen_x;
  const int64_t py = (full ? layer.saved_y : layer.pen_y) + int64_t{half};
  *x = Saturate(px + layer.x);
  *y = Saturate(py + layer.y);
}

void SetTextLink(const char* target, bool on) {
  DTextLayer& layer = g_layers[g_current];
  const int32_t window = WindowSpriteOf(g_current);
  sprCheck(window);
  const int32_t w = Sprite(window).w, h = Sprite(window).h;
  if (on) {
    if (layer.open_link) return;
    layer.open_link.Alloc(1);
    DTextLink& link = *layer.open_link;
    link.left = w;
    link.top = h;
    link.right = -1;
    link.bottom = -1;
    DStrCopyToCharBoundary(target ? target : "", link.target, sizeof(link.target));
    return;
  }
  if (!layer.open_link) return;
  DRef<DTextLink> link = layer.open_link;
  layer.open_link.Release();
  layer.selected_link.Release();
  // A window of no width or height leaves no place to clamp to: the link is dropped.
  if (w <= 0 || h <= 0) return;
  auto clamp = [](int32_t v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : v; };
  link->left = clamp(link->left, w - 1);
  link->right = clamp(link->right, w - 1);
  link->top = clamp(link->top, h - 1);
  link->bottom = clamp(link->bottom, h - 1);
  if (link->left > link->right) link->left = link->right;
  if (link->top > link->bottom) link->top = link->bottom;
  if (link->left != link->right && link->top != link->bottom) layer.links.push_back(link);
}
