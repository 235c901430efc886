// Message output and text tags; the message-window commands.
#include "game/message.h"

#include <cstring>

#include "base/dstring.h"
#include "game/choice.h"
#include "game/court.h"
#include "game/error_report.h"
#include "game/scenario.h"
#include "game/sound.h"
#include "game/sprite.h"
#include "game/sprite_def.h"
#include "game/system_menu.h"
#include "game/text_layer.h"
#include "game/timer.h"
#include "game/tokenizer.h"
#include "platform/mmsystem.h"

namespace {

constexpr size_t kItemSize = 1024;
constexpr const char* kFont = "ＭＳ ゴシック";

// The court's stage, items and record button.
MessageHooks g_hooks = [] {
  MessageHooks hooks{};
  hooks.textShowName = &textShowName;
  hooks.charaShow = &charaShow;
  hooks.itemShow = &itemShow;
  hooks.itemHide = &itemHide;
  hooks.itemName = &ItemName;
  hooks.itemHideKiroku = &itemHideKiroku;
  hooks.HandleSystemButtons = &HandleSystemButtons;
  return hooks;
}();

bool Stopping() {
  const DScenario* s = CurrentScenario();
  return s && (s->exit_request || s->return_request);
}

// The next character of a message (a double-byte character whole); 0 at the NUL, where the cursor
// stays. Line ends are skipped, and so is a lead byte with nothing after it on the line.
uint16_t NextChar(const char*& p) {
  for (;;) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0) return 0;
    if (c == '\r' || c == '\n') {
      ++p;
      continue;
    }
    if (DIsLeadByte(c)) {
      const unsigned char trail = static_cast<unsigned char>(p[1]);
      if (trail == 0 || trail == '\r' || trail == '\n') {
        ++p;
        continue;
      }
      p += 2;
      return static_cast<uint16_t>(c << 8 | trail);
    }
    ++p;
    return c;
  }
}

void Type(uint16_t c, const char* sound) {
  if (sound && sound[0] && !IsBlank(c)) sePlay(sound);
  if (!DrawTextChar(c)) return;
  if (WaitFor(0, &IsSkipKeyHeld, 0)) return;
  const int32_t wait = TextLayer(CurrentTextLayer()).char_wait;
  if (wait <= 0) return;
  sprRender();
  const uint32_t elapsed = timeGetTime() - LastTextCharTime();
  if (elapsed < static_cast<uint32_t>(wait)) WaitOrSkip(static_cast<uint32_t>(wait) - elapsed);
}

struct TagReader {
  const char*& cursor;
  bool end = false;
  char name[kItemSize];
  char value[kItemSize];

  explicit TagReader(const char*& p) : cursor(p) {}
  void Next() {
    NextOption(cursor, name, sizeof(name), value, sizeof(value), end, ']');
    UnquoteValue(value, sizeof(value), value);
  }
  void SkipRest() {
    while (!end) Next();
  }
};

bool Is(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

void PageEnd(uint32_t flags) {
  for (;;) {
    BeginLinkChoice((flags & kMessageRightClick) != 0);
    if (HasChoice()) {
      const bool started = BeginChoice();
      sprRender();
      if (started) WaitChoice();
      EndChoice();
    } else {
      int32_t x = 0, y = 0;
      GetPageCursorPos(&x, &y);
      WaitPageClick(0, x, y);
    }
    ClearClickCallback();
    bool again;
    if (g_hooks.HandleSystemButtons) {
      again = g_hooks.HandleSystemButtons();
    } else {
      const DScenario* s = CurrentScenario();
      again = s && s->right_click_request;
    }
    if (!again || Stopping()) break;
  }
  if (g_hooks.itemHideKiroku) g_hooks.itemHideKiroku();
  if (Stopping()) return;
  if (flags & kMessageClickSound) sePlay("sys/se/文字クリック");
  ClearTextLinks("");
  ClearTextLayer("");
}

// The tag after a "[": runs it and reads the rest of it.
void RunTag(const char*& p, uint32_t flags) {
  TagReader tag(p);
  tag.Next();
  char tag_name[kItemSize];
  std::memcpy(tag_name, tag.name, sizeof(tag_name));
  if (Is(tag_name, "br")) {
    TextLayerLineFeed("");
  } else if (Is(tag_name, "np")) {
    PageEnd(flags);
  } else if (Is(tag_name, "w")) {
    for (;;) {
      if (tag.end) TagOptionError("w", "待ち時間");
      tag.Next();
      if (tag.name[0] != '\0') break;
    }
    const int32_t ms = ToInt(tag.name);
    WaitFor(ms < 0 ? 0 : static_cast<uint32_t>(ms), nullptr, 0);
  } else if (Is(tag_name, "b")) {
    SetBold(true);
  } else if (Is(tag_name, "/b")) {
    SetBold(false);
  } else if (Is(tag_name, "i")) {
    SetIndent(true);
  } else if (Is(tag_name, "/i")) {
    SetIndent(false);
  } else if (Is(tag_name, "c")) {
    ResetTextColor();
  } else if (Is(tag_name, "cr")) {
    SetTextColor(0.925f, 0.0f, 0.549f);
  } else if (Is(tag_name, "cg")) {
    SetTextColor(0.235f, 0.85f, 0.471f);
  } else if (Is(tag_name, "cb")) {
    SetTextColor(0.0f, 0.749f, 0.953f);
  } else if (Is(tag_name, "cy")) {
    SetTextColor(0.937f, 0.918f, 0.008f);
  } else if (Is(tag_name, "link")) {
    char target[kPathSize] = "";
    while (!tag.end) {
      tag.Next();
      if (tag.name[0] == '\0') continue;
      if (!Is(tag.name, "target")) TagOptionError("link", tag.name);
      DStrCopyToCharBoundary(tag.value, target, sizeof(target));
    }
    SetTextLink(target, true);
  } else if (Is(tag_name, "/link")) {
    SetTextLink("", false);
  } else {
    TagError(tag_name);
  }
  tag.SkipRest();
}

TextLayerFont Font(int32_t size, int32_t chars, int32_t lines, int32_t left, int32_t top,
                   int32_t line_spacing, int32_t ruby_size, int32_t ruby_gap) {
  TextLayerFont f;
  std::strcpy(f.font, kFont);
  f.size = size;
  f.heavy = false;
  f.chars_per_line = chars;
  f.max_lines = lines;
  f.left_margin = left;
  f.top_margin = top;
  f.char_spacing = 5;
  f.line_spacing = line_spacing;
  f.shadow = true;
  f.shadow_dx = 2;
  f.shadow_dy = 3;
  std::strcpy(f.ruby_font, kFont);
  f.ruby_size = ruby_size;
  f.ruby_gap = ruby_gap;
  return f;
}

// The ordinary window, or the full-screen one.
void SetUpWindow(bool full) {
  SelectTextLayer("def");
  if (full)
    SetTextLayerWindow("def", "", "#00000080", 0, 0, GetScreenWidth(), GetScreenHeight());
  else
    SetTextLayerWindow("def", "sys/text_msg", "", 0, 400, 0, 0);
  SetTextLayerFont("def", Font(40, 16, full ? 11 : 3, 43, 20, 10, 10, -2));
  SetTextLayerShadowColor("def", 0.2f, 0.2f, 0.2f);
  ShowTextLayer("def");
  SetTextLayerColor("def", 1.0f, 1.0f, 1.0f);
  SetTextLayerCharWait("def", full ? 0 : 30);
  ClearTextLayer("def");
  LoadSpriteDef(kPageCursorSprite, 1, "sys/cursor_np", 0, 0, 96, kStyleHide, "none");
}

void ShowName(const char* name) {
  if (g_hooks.textShowName) g_hooks.textShowName(name);
}

// Leading blanks that centre a scene line.
void Centre(const char* line) {
  const int32_t pad = (32 - CountVisibleChars(line)) / 2;
  for (int32_t i = 0; i < pad; ++i) DrawTextChar(' ');
}

}  // namespace

MessageHooks& MessageTableHooks() {
  return g_hooks;
}

bool ShowMessage(const char* text, const char* sound, uint32_t flags) {
  sprEndScene();
  const char* p = text ? text : "";
  for (;;) {
    const uint16_t c = NextChar(p);
    if (c == 0) return false;
    if (c == '\\') continue;
    if (IsRubyMode()) {
      if (c == '}')
        SetRubyMode(false);
      else
        Type(c, sound);
      continue;
    }
    if (c == '[') {
      RunTag(p, flags);
      if (Stopping()) return true;
    } else if (c == '{') {
      SetRubyMode(true);
    } else {
      Type(c, sound);
    }
  }
}

bool ShowText(const char* text, uint32_t flags) {
  return ShowMessage(text, "", flags);
}

void textShowMessage() {
  SetUpWindow(false);
}

void textShowFull() {
  ShowName("");
  SetUpWindow(true);
}

void textShowLoud(const char* value) {
  textShowMessage();
  SetTextLayerFont("def", Font(60, 11, 2, 42, 20, 15, 20, -8));
  SetTextLayerColor("def", 0.0f, 1.0f, 0.0f);
  SetTextLayerCharWait("def", 200);
  ClearTextLayer("def");
  ShowMessage("[cg]", "", 0);
  ShowMessage(value, "sys/se/大声", 0);
  if (!ShowMessage("[np]", "", 3)) textShowMessage();
}

void textShowScene(const char* line1, const char* line2) {
  textShowMessage();
  ShowName("");
  SetTextLayerFont("def", Font(40, 16, 2, 42, 40, 30, 16, -4));
  SetTextLayerColor("def", 0.0f, 1.0f, 0.0f);
  SetTextLayerCharWait("def", 200);
  ClearTextLayer("def");
  Centre(line1);
  ShowMessage(line1, "sys/se/文字表示", 0);
  ShowMessage("[br][w 200]", "", 0);
  Centre(line2);
  ShowMessage(line2, "sys/se/文字表示", 0);
  if (!ShowMessage("[np]", "", 3)) textShowMessage();
}

void itemMessage(int32_t item, bool right, const char* before, const char* after) {
  if (g_hooks.itemShow) g_hooks.itemShow(item, right);
  ShowMessage(before, "", 0);
  ShowMessage("[cr]", "", 0);
  ShowMessage(g_hooks.itemName ? g_hooks.itemName(item) : "", "", 0);
  ShowMessage("[c]", "", 0);
  ShowMessage(after, "", 0);
  if (!ShowMessage("[np]", "", 3) && g_hooks.itemHide) g_hooks.itemHide();
}

void ShowStatement(uint32_t flags, const char* picture, int32_t x, int32_t y, const char* text,
                   const char* lead) {
  if ((flags & 1) && g_hooks.charaShow) g_hooks.charaShow(picture, 1, x, y, (flags & 2) == 0);
  if (lead && lead[0]) ShowMessage(lead, "", 0);
  ShowMessage(text, "", 0);
}

int32_t CountVisibleChars(const char* text) {
  int32_t count = 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");
  auto step = [&p] { p += DIsLeadByte(*p) && p[1] ? 2 : 1; };
  while (*p) {
    if (*p == '{') {
      ++p;
      while (*p && *p != '}') step();
      if (*p == '}') {
        ++count;
        ++p;
      }
      continue;
    }
    count += DIsLeadByte(*p) && p[1] ? 2 : 1;
    step();
  }
  return count;
}
