#include "tools/sample-gen/manifest.h"

#include <algorithm>
#include <set>

#include "platform/hostpath.h"

namespace samplegen {
namespace {

// Field kinds of an operation: i a number, c a colour, r a ramp shape, t the text to the line's end.
struct OpForm {
  const char* word;
  OpKind kind;
  const char* fields;
  bool picture;  // allowed in pictures (else in sounds)
};

constexpr OpForm kForms[] = {
    {"fill", OpKind::kFill, "c", true},         {"rect", OpKind::kRect, "iiiic", true},
    {"frame", OpKind::kFrame, "iiiiic", true},  {"vgrad", OpKind::kVGrad, "iiiicc", true},
    {"hgrad", OpKind::kHGrad, "iiiicc", true},  {"ellipse", OpKind::kEllipse, "iiiic", true},
    {"figure", OpKind::kFigure, "iiic", true},  {"text", OpKind::kText, "iiict", true},
    {"ctext", OpKind::kCText, "iiiiict", true}, {"ramp", OpKind::kRamp, "iiiir", true},
    {"tone", OpKind::kTone, "iiii", false},
};

// Numbers beyond this are refused before any arithmetic on them.
constexpr std::int64_t kNumberLimit = 1000000;

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

// Splits off the next whitespace-separated word of rest.
std::string_view NextWord(std::string_view* rest) {
  size_t i = 0;
  while (i < rest->size() && IsSpace((*rest)[i])) ++i;
  size_t j = i;
  while (j < rest->size() && !IsSpace((*rest)[j])) ++j;
  std::string_view word = rest->substr(i, j - i);
  rest->remove_prefix(j);
  return word;
}

bool ParseNumber(std::string_view w, std::int64_t* out) {
  size_t i = 0;
  bool negative = false;
  if (i < w.size() && w[i] == '-') negative = true, ++i;
  if (i == w.size()) return false;
  std::int64_t v = 0;
  for (; i < w.size(); ++i) {
    if (w[i] < '0' || w[i] > '9') return false;
    v = v * 10 + (w[i] - '0');
    if (v > kNumberLimit) return false;
  }
  *out = negative ? -v : v;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseColour(std::string_view w, Colour* out) {
  if ((w.size() != 7 && w.size() != 9) || w[0] != '#') return false;
  std::uint8_t v[4] = {0, 0, 0, 255};
  for (size_t k = 0; k * 2 + 1 < w.size(); ++k) {
    const int hi = HexDigit(w[1 + 2 * k]), lo = HexDigit(w[2 + 2 * k]);
    if (hi < 0 || lo < 0) return false;
    v[k] = static_cast<std::uint8_t>(hi * 16 + lo);
  }
  *out = Colour{v[0], v[1], v[2], v[3]};
  return true;
}

// True when the box x, y, w, h shares at least one pixel with a picture of the asset's size.
bool Touches(const Asset& a, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h) {
  return x < a.width && y < a.height && x + w > 0 && y + h > 0;
}

// Checks an operation's numbers against its asset; "" when they are sound.
std::string CheckOp(const Asset& a, const Op& op) {
  const auto& n = op.n;
  switch (op.kind) {
    case OpKind::kFill:
      return "";
    case OpKind::kRect:
    case OpKind::kFrame:
    case OpKind::kVGrad:
    case OpKind::kHGrad:
    case OpKind::kRamp:
    case OpKind::kCText:
      if (n[2] < 1 || n[3] < 1) return "width and height must be at least 1";
      if (op.kind == OpKind::kFrame && n[4] < 1) return "thickness must be at least 1";
      if (op.kind == OpKind::kCText && (n[4] < 4 || n[4] > 512)) return "text size must be 4 to 512";
      if (!Touches(a, n[0], n[1], n[2], n[3])) return "outside the picture";
      return "";
    case OpKind::kEllipse:
      if (n[2] < 1 || n[3] < 1) return "radii must be at least 1";
      if (!Touches(a, n[0] - n[2], n[1] - n[3], 2 * n[2], 2 * n[3])) return "outside the picture";
      return "";
    case OpKind::kFigure:
      if (n[2] < 8) return "figure height must be at least 8";
      if (!Touches(a, n[0], n[1], (n[2] * 45 + 99) / 100, n[2])) return "outside the picture";
      return "";
    case OpKind::kText:
      if (n[2] < 4 || n[2] > 512) return "text size must be 4 to 512";
      if (n[0] >= a.width || n[1] >= a.height) return "outside the picture";
      return "";  // the far edges are checked once the text is laid out
    case OpKind::kTone:
      if (n[0] < 0 || n[1] < 1) return "start must be at least 0 and length at least 1";
      if (n[0] + n[1] > a.ms) return "outside the sound";
      if (n[2] < 1 || n[2] * 2 > a.rate) return "frequency must be 1 to half the rate";
      if (n[3] < 0 || n[3] > 100) return "volume must be 0 to 100";
      return "";
  }
  return "";
}

bool ParseHeader(std::string_view rest, int line, Asset* a, std::string* reason) {
  const std::string_view word = NextWord(&rest);
  a->line = line;
  if (word == "png") {
    a->kind = AssetKind::kPng;
  } else if (word == "wav") {
    a->kind = AssetKind::kWav;
  } else if (word == "ogg") {
    a->kind = AssetKind::kOgg;
  } else {
    *reason = "unknown asset \"" + std::string(word) + "\"";
    return false;
  }
  a->path = std::string(NextWord(&rest));
  if (a->path.empty()) return *reason = "missing path", false;
  if (!CheckDataPath(a->path, reason)) return false;
  std::vector<std::string_view> words;
  for (std::string_view w = NextWord(&rest); !w.empty(); w = NextWord(&rest)) words.push_back(w);
  std::int64_t v[2] = {0, 0};
  if (a->kind == AssetKind::kPng) {
    if (words.size() != 3) return *reason = "png needs PATH W H rgb|rgba", false;
    for (int k = 0; k < 2; ++k)
      if (!ParseNumber(words[k], &v[k]) || v[k] < 1 || v[k] > kMaxSide)
        return *reason = "bad picture size \"" + std::string(words[k]) + "\"", false;
    if (words[2] != "rgb" && words[2] != "rgba")
      return *reason = "bad pixel format \"" + std::string(words[2]) + "\"", false;
    a->width = static_cast<int>(v[0]);
    a->height = static_cast<int>(v[1]);
    a->alpha = words[2] == "rgba";
    return true;
  }
  if (words.empty() || words.size() > 2) return *reason = "a sound needs PATH MS [RATE]", false;
  if (!ParseNumber(words[0], &v[0]) || v[0] < 1 || v[0] > kMaxSoundMs)
    return *reason = "bad length \"" + std::string(words[0]) + "\"", false;
  if (words.size() == 2 && (!ParseNumber(words[1], &v[1]) || v[1] < kMinRate || v[1] > kMaxRate))
    return *reason = "bad rate \"" + std::string(words[1]) + "\"", false;
  a->ms = v[0];
  if (words.size() == 2) a->rate = static_cast<int>(v[1]);
  return true;
}

bool ParseOp(std::string_view rest, int line, const Asset& a, Op* op, std::string* reason) {
  const std::string_view word = NextWord(&rest);
  const OpForm* form = nullptr;
  for (const OpForm& f : kForms)
    if (word == f.word) form = &f;
  if (form == nullptr) return *reason = "unknown operation \"" + std::string(word) + "\"", false;
  if (form->picture != (a.kind == AssetKind::kPng))
    return *reason =
               "\"" + std::string(word) + "\" does not belong in a " + (form->picture ? "sound" : "picture"),
           false;
  op->kind = form->kind;
  op->line = line;
  int colours = 0;
  for (const char* f = form->fields; *f; ++f) {
    if (*f == 't') {
      while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
      while (!rest.empty() && IsSpace(rest.back())) rest.remove_suffix(1);
      if (rest.empty()) return *reason = "missing text", false;
      op->text = std::string(rest);
      rest = {};
      break;
    }
    const std::string_view w = NextWord(&rest);
    if (w.empty()) return *reason = "missing field of \"" + std::string(word) + "\"", false;
    if (*f == 'i') {
      std::int64_t v;
      if (!ParseNumber(w, &v)) return *reason = "bad number \"" + std::string(w) + "\"", false;
      op->n.push_back(v);
    } else if (*f == 'c') {
      if (!ParseColour(w, colours++ == 0 ? &op->c1 : &op->c2))
        return *reason = "bad colour \"" + std::string(w) + "\"", false;
    } else if (w == "h") {
      op->ramp = RampShape::kHorizontal;
    } else if (w == "v") {
      op->ramp = RampShape::kVertical;
    } else if (w == "radial") {
      op->ramp = RampShape::kRadial;
    } else {
      return *reason = "bad ramp \"" + std::string(w) + "\"", false;
    }
  }
  if (!NextWord(&rest).empty()) return *reason = "extra field after \"" + std::string(word) + "\"", false;
  *reason = CheckOp(a, *op);
  return reason->empty();
}

}  // namespace

bool CheckDataPath(std::string_view path, std::string* reason) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return *reason = "bad path", false;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      return *reason = "bad path \"" + std::string(path) + "\"", false;
    start = end + 1;
  }
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7F || c == '\\') return *reason = "bad path \"" + std::string(path) + "\"", false;
  std::string cp932;
  if (!orvane::Utf8ToCp932(path, &cp932))
    return *reason = "path \"" + std::string(path) + "\" has a character cp932 lacks", false;
  return true;
}

bool ParseManifest(std::string_view text, std::vector<Asset>* assets, std::string* error) {
  assets->clear();
  std::set<std::string> paths;
  int line = 0;
  while (!text.empty()) {
    ++line;
    size_t end = text.find('\n');
    std::string_view row = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!row.empty() && row.back() == '\r') row.remove_suffix(1);
    size_t indent = 0;
    while (indent < row.size() && IsSpace(row[indent])) ++indent;
    if (indent == row.size() || row[indent] == '#') continue;
    std::string reason;
    if (indent == 0) {
      Asset a;
      if (ParseHeader(row, line, &a, &reason)) {
        if (paths.insert(a.path).second) {
          assets->push_back(std::move(a));
          continue;
        }
        reason = "\"" + a.path + "\" is made twice";
      }
    } else if (assets->empty()) {
      reason = "operation before the first asset";
    } else {
      Op op;
      if (ParseOp(row.substr(indent), line, assets->back(), &op, &reason)) {
        assets->back().ops.push_back(std::move(op));
        continue;
      }
    }
    *error = "line " + std::to_string(line) + ": " + reason;
    return false;
  }
  return true;
}

}  // namespace samplegen
