// The asset manifest of the sample game: pictures and sounds as lists of drawing and tone
// operations, parsed and checked before anything is drawn.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace samplegen {

struct Colour {
  std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

enum class OpKind { kFill, kRect, kFrame, kVGrad, kHGrad, kEllipse, kFigure, kText, kCText, kRamp, kTone };
enum class RampShape { kHorizontal, kVertical, kRadial };

// One operation line. `n` holds its numbers in the order they are written.
struct Op {
  OpKind kind = OpKind::kFill;
  int line = 0;                 // line in the manifest, for errors found while drawing
  std::vector<std::int64_t> n;  // coordinates, sizes, times, frequency, volume
  Colour c1, c2;
  std::string text;  // UTF-8 label of text and ctext
  RampShape ramp = RampShape::kHorizontal;
};

enum class AssetKind { kPng, kWav, kOgg };

struct Asset {
  AssetKind kind = AssetKind::kPng;
  int line = 0;
  std::string path;  // data path, UTF-8, '/'-separated
  int width = 0;     // pictures
  int height = 0;
  bool alpha = false;   // rgba
  std::int64_t ms = 0;  // sounds: length
  int rate = 22050;     // sounds: samples per second
  std::vector<Op> ops;
};

// Largest picture side, longest sound, and the sample-rate range the manifest accepts.
inline constexpr int kMaxSide = 4096;
inline constexpr std::int64_t kMaxSoundMs = 600000;
inline constexpr int kMinRate = 8000;
inline constexpr int kMaxRate = 96000;

// Parses the manifest text (UTF-8). On a fault returns false with *error set to
// "line N: reason" and *assets unspecified.
bool ParseManifest(std::string_view text, std::vector<Asset>* assets, std::string* error);

// Checks a data path: relative, '/'-separated, no empty, "." or ".." component, no '\', no
// control character, and spellable in cp932. False with a reason.
bool CheckDataPath(std::string_view path, std::string* reason);

}  // namespace samplegen
