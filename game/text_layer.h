// Text layers: the game's named text windows (a window picture, a text canvas and a shadow
// canvas, each shown by a sprite of the table) with their fonts, layout, colours and drawing
// state, and the drawing of characters, ruby and link rectangles onto the canvases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/dref.h"
#include "game/resource.h"

inline constexpr int32_t kTextLayerCount = 5;
inline constexpr int32_t kLinkSprite = 19;  // the link highlight shared by every layer
inline constexpr int32_t kMaxLogLines = 1024;
inline constexpr size_t kLogLineSize = 32;  // a logged line keeps at most 31 bytes

// A link's rectangle on the canvas (inclusive) and its target.
struct DTextLink {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  char target[264] = "";
};

struct DTextLayer {
  char name[256] = "";  // empty: free
  int32_t x = 0, y = 0;
  int32_t width = 0, height = 0;  // the window picture's size; the canvases have it too
  int32_t level = 80;
  char font[256] = "";
  int32_t font_size = 0;
  bool heavy = false;
  int32_t line_width = 0;  // half-width units
  int32_t max_lines = 0;
  int32_t left_margin = 0, top_margin = 0;
  int32_t char_spacing = 0, line_spacing = 0;
  bool shadow = false;
  int32_t shadow_dx = 0, shadow_dy = 0;
  char ruby_font[256] = "";
  int32_t ruby_size = 0, ruby_gap = 0;
  float default_color[4] = {1, 1, 1, 0};
  float default_shadow_color[4] = {0, 0, 0, 0};
  int32_t default_char_wait = 30;
  DRef<DCharRes> normal_set, bold_set, ruby_set;
  float color[4] = {1, 1, 1, 0};
  float shadow_color[4] = {0, 0, 0, 0};
  int32_t char_wait = 30;
  DRef<DImageRes> window_image, text_image, shadow_image;
  DRef<DCharRes> current_set;
  int32_t column = 0, line = 0;
  int32_t pen_x = 0, pen_y = 0;
  int32_t saved_x = 0, saved_y = 0;
  float page_color[4] = {};
  float page_shadow_color[4] = {};
  int32_t indent_column = 0, indent_x = 0;
  bool ruby_mode = false;
  char ruby[256] = "";
  int32_t ruby_length = 0;
  int32_t log_capacity = 0;
  std::deque<std::string> log;  // finished lines, oldest first
  bool has_log_line = false;
  char log_line[kLogLineSize] = "";
  int32_t log_length = 0;
  DRef<DTextLink> open_link;
  std::vector<DRef<DTextLink>> links;
  DRef<DTextLink> selected_link;
};

// The font settings of a layer as SetTextLayerFont takes them (characters per line, not the
// half-width line width).
struct TextLayerFont {
  char font[256] = "";
  int32_t size = 0;
  bool heavy = false;
  int32_t chars_per_line = 0, max_lines = 0;
  int32_t left_margin = 0, top_margin = 0;
  int32_t char_spacing = 0, line_spacing = 0;
  bool shadow = false;
  int32_t shadow_dx = 0, shadow_dy = 0;
  char ruby_font[256] = "";
  int32_t ruby_size = 0, ruby_gap = 0;
};

// The sprites of layer i.
inline int32_t TextSpriteOf(int32_t i) {
  return 6 + 3 * i;
}
inline int32_t WindowSpriteOf(int32_t i) {
  return 4 + 3 * i;
}
inline int32_t ShadowSpriteOf(int32_t i) {
  return 5 + 3 * i;
}

DTextLayer& TextLayer(int32_t index);
int32_t CurrentTextLayer();
// The time of the last drawn character (the clock's ms).
uint32_t LastTextCharTime();
// Every record emptied (handles released, no engine calls other than the releases), current 0.
void ResetTextLayerGlobals();

// Layers by name; an empty name is the current layer.
void InitTextLayers();
void CreateTextLayer(const char* name);
int32_t FindTextLayer(const char* name);
void SelectTextLayer(const char* name);  // "" selects "def"
bool IsTextLayerShown(const char* name);
void ShowTextLayer(const char* name);
void HideTextLayer(const char* name);
void SetTextLayerWindow(const char* name, const char* definition, const char* color, int32_t x, int32_t y,
                        int32_t width, int32_t height);
void SetTextLayerFont(const char* name, const TextLayerFont& font);
TextLayerFont GetTextLayerFont(const char* name);
void SetTextLayerPos(const char* name, int32_t x, int32_t y);
void SetTextLayerLevel(const char* name, int32_t level);
void SetTextLayerColor(const char* name, float r, float g, float b);
void SetTextLayerShadowColor(const char* name, float r, float g, float b);
void SetTextLayerCharWait(const char* name, int32_t ms);
void SetTextLayerLogSize(const char* name, int32_t lines);
void DestroyTextLayers();

// The current layer, for the text tags.
void SetTextColor(float r, float g, float b);
void ResetTextColor();
void SetShadowColor(float r, float g, float b);
void ResetShadowColor();
void SetCharWait(int32_t ms);
void ResetCharWait();
void SetBold(bool bold);
void SetIndent(bool on);
void SetRubyMode(bool on);
bool IsRubyMode();
bool HasTextLinks();

// Drawing.
void ClearTextLayer(const char* name);
void TextLayerLineFeed(const char* name);
void ClearTextLinks(const char* name);
// Draws the character (a double-byte character is lead << 8 | trail) on the current layer;
// false when it was collected as ruby or does not fit the page.
bool DrawTextChar(uint16_t ch);
void GetPageCursorPos(int32_t* x, int32_t* y);
void SetTextLink(const char* target, bool on);
