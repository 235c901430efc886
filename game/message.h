// Message output: text typed into the current text layer with its inline tags, ruby and page
// waits, and the message-window commands that set up the layer "def".
#pragma once

#include <cstdint>

// Message flags: a right click may end a page wait; the click sound plays at each page turn.
inline constexpr uint32_t kMessageRightClick = 0x1;
inline constexpr uint32_t kMessageClickSound = 0x2;

// Work of later parts of the game that the message output calls; null: nothing to do, except
// HandleSystemButtons, whose absence waits again after a requested right click.
struct MessageHooks {
  void (*textShowName)(const char* name);
  void (*charaShow)(const char* file, int32_t character_class, int32_t x, int32_t y, bool nowipe);
  void (*itemShow)(int32_t item, bool right);
  void (*itemHide)();
  const char* (*itemName)(int32_t item);
  void (*itemHideKiroku)();
  // After a page wait: true to wait again.
  bool (*HandleSystemButtons)();
};
MessageHooks& MessageTableHooks();

// Types the text (cp932) with the sound per character (empty: none); true when it stopped because
// the current scenario is exiting or returning.
bool ShowMessage(const char* text, const char* sound, uint32_t flags);
bool ShowText(const char* text, uint32_t flags);

void textShowMessage();
void textShowFull();
void textShowLoud(const char* value);
void textShowScene(const char* line1, const char* line2);
void itemMessage(int32_t item, bool right, const char* before, const char* after);
// A statement of a cross-examination: with bit 0 of its flags the character first (nowipe
// unless bit 1), then the lead text and the statement.
void ShowStatement(uint32_t flags, const char* picture, int32_t x, int32_t y, const char* text,
                   const char* lead);

// Bytes of the text for centring: a ruby span in braces counts one, a double-byte character two.
int32_t CountVisibleChars(const char* text);
