// The engine's gothic face (found through fontconfig as the platform's text does), rendered
// anti-aliased with FreeType for picture labels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace samplegen {

// The laid-out extent of a label: advance width and line height (ascent + descent) in pixels.
struct TextExtent {
  int width = 0, height = 0, ascent = 0;
};

// Lays out UTF-8 text at a pixel size. False with a reason when the face cannot be loaded, the
// text is not UTF-8 or the face has no glyph for one of its characters.
bool MeasureText(std::string_view utf8, int size, TextExtent* extent, std::string* reason);
// Renders the text with its line box's top-left at x, y, calling plot(px, py, coverage 0..255)
// for every covered pixel (which may lie outside any picture). Same faults as MeasureText.
bool RenderText(std::string_view utf8, int size, int x, int y,
                const std::function<void(int, int, std::uint8_t)>& plot, std::string* reason);

}  // namespace samplegen
