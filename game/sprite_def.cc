// Sprite definition files and the animation shorthand.
#include "game/sprite_def.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/dpath.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/scenario.h"
#include "game/sprite.h"
#include "game/tokenizer.h"

namespace {

constexpr size_t kItemSize = 1024;  // a line holds at most 1023 bytes
constexpr size_t kTextSize = 256;
// More sets than one 1023-byte line can define are a damaged definition.
constexpr int32_t kMaxAnimSets = 1024;

bool IsName(const char* a, const char* b) {
  return DStrCompareNoCase(a, b) == 0;
}

bool HasPrefix(const char* text, const char* prefix) {
  return DStrCompareNoCaseN(text, prefix, static_cast<uint32_t>(std::strlen(prefix))) == 0;
}

// A word that reads as a number: an optional sign, then a digit.
bool IsNumber(const std::string& word) {
  size_t i = word[0] == '+' || word[0] == '-' ? 1 : 0;
  return i < word.size() && word[i] >= '0' && word[i] <= '9';
}

// The blank-separated words of a text.
std::vector<std::string> Words(const char* text) {
  std::vector<std::string> words;
  const char* cursor = text;
  for (;;) {
    SkipBlanks(cursor);
    const char* start = cursor;
    SkipWord(cursor);
    if (cursor == start) break;
    words.emplace_back(start, cursor);
  }
  return words;
}

DRef<DSpriteCell> Cells(const std::vector<DSpriteCell>& cells) {
  DRef<DSpriteCell> out;
  out.Alloc(static_cast<uint32_t>(cells.size()));
  for (size_t i = 0; i < cells.size(); ++i) out[static_cast<std::ptrdiff_t>(i)] = cells[i];
  return out;
}

const char* TransOrDefault(const char* trans) {
  return trans[0] ? trans : sprGetDefaultTrans();
}

// "<text>.<extension>" cut to a path at a character boundary.
void WithExtension(char* path, const char* text, const char* extension) {
  char buffer[kPathSize * 2];
  std::snprintf(buffer, sizeof(buffer), "%s.%s", text, extension);
  DStrCopyToCharBoundary(buffer, path, kPathSize);
}

// One @sub line: the sub-sprite's options, its picture and its animation sets.
void ReadSubLine(const char* name, const char* line, int32_t subcount, bool use_cache, const char* directory,
                 std::map<int32_t, DSubSprite>& subs) {
  // The line is read twice and pictures are loaded in between: work on a copy of it.
  char text[kItemSize];
  std::snprintf(text, sizeof(text), "%s", line);
  char item[kItemSize], value[kItemSize];
  const char* cursor = text;
  bool end = false;
  ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
  if (!HasPrefix(item, "@sub")) ScriptError("スプライト定義ファイル\"%s\"に不正な定義文が存在します", name);
  const int32_t n = ToInt(item + 4);
  if (n < 0 || n >= subcount)
    ScriptError("スプライト定義ファイル\"%s\"に不正な@sub%d定義が存在します", name, n);
  char file[kPathSize] = "", trans[kTextSize] = "";
  int32_t x = 0, y = 0, cellx = 1, celly = 1, setcount = 0;
  const char* options = cursor;
  bool options_end = end;
  while (!end) {
    ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
    if (item[0] == '\0' && value[0] == '\0') continue;  // blanks before the end of the line
    if (IsName(item, "file")) {
      DStrCopyToCharBoundary(value, file, sizeof(file));
    } else if (IsName(item, "trans")) {
      DStrCopyToCharBoundary(value, trans, sizeof(trans));
    } else if (IsName(item, "x")) {
      x = ToInt(value);
    } else if (IsName(item, "y")) {
      y = ToInt(value);
    } else if (IsName(item, "cellx")) {
      cellx = ToInt(value);
    } else if (IsName(item, "celly")) {
      celly = ToInt(value);
    } else if (IsName(item, "animsetcount")) {
      setcount = ToInt(value);
    } else if (!HasPrefix(item, "animset")) {
      ScriptError("スプライト定義ファイル\"%s\"のサブスプライト%d定義に不正な定義が存在します", name, n);
    }
  }
  if (cellx < 1) cellx = 1;
  if (celly < 1) celly = 1;
  if (setcount < 0 || setcount > kMaxAnimSets)
    ScriptError("スプライト定義ファイル\"%s\"に不正な@sub%d定義が存在します", name, n);
  // A repeated @sub line starts the sub-sprite afresh.
  DSubSprite sub;
  char path[kPathSize];
  DMargePath(path, directory, file, "");
  sub.image = LoadImageCached(-cellx, -celly, path, use_cache, TransOrDefault(trans));
  sub.def_x = x;
  sub.def_y = y;
  sub.columns = cellx;
  sub.rows = celly;
  sub.set_count = setcount;
  if (setcount > 0) sub.sets.Alloc(static_cast<uint32_t>(setcount));
  const int64_t cell_count = int64_t{cellx} * celly;
  cursor = options;
  end = options_end;
  while (!end) {
    ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
    if (!HasPrefix(item, "animset") || IsName(item, "animsetcount")) continue;
    const int32_t k = ToInt(item + 7);
    if (k < 0 || k >= setcount)
      ScriptError("スプライト定義ファイル\"%s\"のサブスプライト%d定義に不正なanimset%d定義が存在します", name,
                  n, k);
    const std::vector<std::string> words = Words(value);
    std::vector<DSpriteCell> cells(words.size() / 2);
    for (size_t i = 0; i < cells.size(); ++i) {
      cells[i].cell = ToInt(words[2 * i].c_str());
      cells[i].duration = ToInt(words[2 * i + 1].c_str());
      if (cells[i].cell < 0 || cells[i].cell >= cell_count)
        ScriptError(
            "スプライト定義ファイル\"%s\"のサブスプライト%d定義のアニメセット%d定義に不正なcell(%d)"
            "が使用されてい"
            "ます",
            name, n, k, cells[i].cell);
    }
    sub.sets[k].count = static_cast<int32_t>(cells.size());
    sub.sets[k].cells = Cells(cells);
  }
  subs[n] = sub;
}

}  // namespace

void LoadSpriteDef(int32_t slot, int32_t sprite_class, const char* name, int32_t x, int32_t y, int32_t level,
                   uint32_t initial_flags, const char* wipe) {
  char path[kPathSize];
  WithExtension(path, name, "spr");
  char directory[kPathSize];
  DSplitPath(name, directory, nullptr, nullptr);
  DRef<DFileRes> file = OpenFileRes(path, 1);
  const char* line = g_engine.ovReadFileLine(file->handle);
  if (!line) ScriptError("スプライト定義ファイル\"%s\"の一行目に@sprite定義文が必要です", name);
  char item[kItemSize], value[kItemSize];
  const char* cursor = line;
  bool end = false;
  ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
  if (!IsName(item, "@sprite"))
    ScriptError("スプライト定義ファイル\"%s\"の一行目に@sprite定義文が必要です", name);
  char picture[kPathSize] = "", trans[kTextSize] = "", anim[kTextSize] = "", style[kTextSize] = "";
  int32_t sw = -1, sh = -1, subcount = -1;
  while (!end) {
    ReadOption(cursor, item, sizeof(item), value, sizeof(value), end, 0);
    if (item[0] == '\0' && value[0] == '\0') continue;  // blanks before the end of the line
    if (IsName(item, "file")) {
      DStrCopyToCharBoundary(value, picture, sizeof(picture));
    } else if (IsName(item, "trans")) {
      DStrCopyToCharBoundary(value, trans, sizeof(trans));
    } else if (IsName(item, "anim")) {
      DStrCopyToCharBoundary(value, anim, sizeof(anim));
    } else if (IsName(item, "style")) {
      DStrCopyToCharBoundary(value, style, sizeof(style));
    } else if (IsName(item, "sw")) {
      sw = ToInt(value);
    } else if (IsName(item, "sh")) {
      sh = ToInt(value);
    } else if (IsName(item, "subcount")) {
      subcount = ToInt(value);
    } else {
      ScriptError("スプライト定義ファイル\"%s\"の@sprite定義文中の%sが不正です", name, item);
    }
  }
  if (subcount < 0) {
    file.Release();
    char image[kPathSize];
    DMargePath(image, directory, picture, "");
    sprCreateAnim(slot, sprite_class, image, x, y, sw, sh, level, trans, anim, initial_flags, style, wipe);
    return;
  }
  const uint32_t flags = ParseDisplayStyle(style, initial_flags);
  // Sub-sprites are kept as their lines come, so a huge count allocates nothing before they do.
  std::map<int32_t, DSubSprite> defined;
  while ((line = g_engine.ovReadFileLine(file->handle)) != nullptr)
    ReadSubLine(name, line, subcount, (flags & kStyleCache) != 0, directory, defined);
  file.Release();
  // Every sub-sprite must have its line: the first one missing is named.
  for (int32_t n = 0; n < subcount; ++n) {
    auto it = defined.find(n);
    if (it == defined.end())
      ScriptError("スプライト定義ファイル\"%s\"に不正な@sub%d定義が存在します", name, n);
  }
  DRef<DSubSprite> subs;
  subs.Alloc(static_cast<uint32_t>(subcount));
  for (auto& [n, sub] : defined) subs[n] = sub;
  sprCreate(slot, sprite_class, level, subcount, subs, x, y, sw, sh, flags, wipe);
}

void sprCreateAnim(int32_t slot, int32_t sprite_class, const char* path, int32_t x, int32_t y, int32_t w,
                   int32_t h, int32_t level, const char* trans, const char* anim, uint32_t initial_flags,
                   const char* style, const char* wipe) {
  const uint32_t flags = ParseDisplayStyle(style, initial_flags);
  const std::vector<std::string> words = Words(anim);
  enum class Mode { kStop, kLoop, kRLoop } mode = Mode::kStop;
  int32_t columns = 1, rows = 1;
  std::vector<int32_t> durations;
  const std::string* columns_word = nullptr;
  const std::string* rows_word = nullptr;
  size_t i = 0;
  if (!words.empty() && IsNumber(words[0])) {
    columns_word = &words[0];
    columns = ToInt(words[0].c_str());
    i = 1;
    if (i < words.size()) {
      const char* word = words[i].c_str();
      if (IsName(word, "stop")) {
        mode = Mode::kStop;
      } else if (IsName(word, "loop")) {
        mode = Mode::kLoop;
      } else if (IsName(word, "rloop")) {
        mode = Mode::kRLoop;
      } else {
        WordError(word);
      }
      ++i;
    }
    for (; i < words.size() && IsNumber(words[i]); ++i) durations.push_back(ToInt(words[i].c_str()));
  }
  for (; i < words.size(); ++i) {
    if (words[i][0] == 's' || words[i][0] == 'S') {
      rows = ToInt(words[i].c_str() + 1);
      rows_word = &words[i];
    }
  }
  // Fewer than one column or row would divide the picture by zero.
  if (columns < 1) columns = 1;
  if (rows < 1) rows = 1;
  DRef<DSubSprite> subs;
  subs.Alloc(1);
  DSubSprite& sub = subs[0];
  sub.image = LoadImageCached(-columns, -rows, path, (flags & kStyleCache) != 0, TransOrDefault(trans));
  // The cells are made only for a grid the picture holds.
  const OvSize cell = g_engine.ovtsGetImageSize(sub.image->handle);
  if (cell.width <= 0) WordError(columns_word ? columns_word->c_str() : anim);
  if (cell.height <= 0) WordError(rows_word ? rows_word->c_str() : anim);
  sub.columns = columns;
  sub.rows = rows;
  sub.set_count = rows;
  sub.sets.Alloc(static_cast<uint32_t>(rows));
  auto duration = [&](size_t index) {
    if (durations.empty()) return -1;
    return index < durations.size() ? durations[index] : durations[0];
  };
  for (int32_t r = 0; r < rows; ++r) {
    const int64_t first = int64_t{r} * columns;
    std::vector<DSpriteCell> cells;
    for (int32_t c = 0; c < columns; ++c)
      cells.push_back({static_cast<int32_t>(first + c), duration(static_cast<size_t>(c))});
    if (mode == Mode::kStop) {
      cells.back().duration = -1;
    } else if (mode == Mode::kRLoop) {
      // Back from the cell before the last down to cell 1, the durations from the start again.
      for (int32_t c = columns - 2, j = 0; c >= 1; --c, ++j)
        cells.push_back({static_cast<int32_t>(first + c), duration(static_cast<size_t>(j))});
    }
    sub.sets[r].count = static_cast<int32_t>(cells.size());
    sub.sets[r].cells = Cells(cells);
  }
  sprCreate(slot, sprite_class, level, 1, subs, x, y, w, h, flags, wipe);
}
