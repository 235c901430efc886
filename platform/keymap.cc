// The keyboard table, indexed by USB HID usage id (the values of SDL_Scancode).
#include "platform/keymap.h"

#include "platform/user.h"

namespace orvane::keymap {
namespace {

struct Row {
  uint16_t usage;
  Key key;
};

constexpr bool E = true;   // extended
constexpr bool N = false;  // not extended

constexpr Row kRows[] = {
    // Letters A-Z.
    {0x04, {'A', 0x1E, N}},
    {0x05, {'B', 0x30, N}},
    {0x06, {'C', 0x2E, N}},
    {0x07, {'D', 0x20, N}},
    {0x08, {'E', 0x12, N}},
    {0x09, {'F', 0x21, N}},
    {0x0A, {'G', 0x22, N}},
    {0x0B, {'H', 0x23, N}},
    {0x0C, {'I', 0x17, N}},
    {0x0D, {'J', 0x24, N}},
    {0x0E, {'K', 0x25, N}},
    {0x0F, {'L', 0x26, N}},
    {0x10, {'M', 0x32, N}},
    {0x11, {'N', 0x31, N}},
    {0x12, {'O', 0x18, N}},
    {0x13, {'P', 0x19, N}},
    {0x14, {'Q', 0x10, N}},
    {0x15, {'R', 0x13, N}},
    {0x16, {'S', 0x1F, N}},
    {0x17, {'T', 0x14, N}},
    {0x18, {'U', 0x16, N}},
    {0x19, {'V', 0x2F, N}},
    {0x1A, {'W', 0x11, N}},
    {0x1B, {'X', 0x2D, N}},
    {0x1C, {'Y', 0x15, N}},
    {0x1D, {'Z', 0x2C, N}},
    // Digits 1-9, 0.
    {0x1E, {'1', 0x02, N}},
    {0x1F, {'2', 0x03, N}},
    {0x20, {'3', 0x04, N}},
    {0x21, {'4', 0x05, N}},
    {0x22, {'5', 0x06, N}},
    {0x23, {'6', 0x07, N}},
    {0x24, {'7', 0x08, N}},
    {0x25, {'8', 0x09, N}},
    {0x26, {'9', 0x0A, N}},
    {0x27, {'0', 0x0B, N}},
    // Editing and punctuation.
    {0x28, {VK_RETURN, 0x1C, N}},
    {0x29, {VK_ESCAPE, 0x01, N}},
    {0x2A, {VK_BACK, 0x0E, N}},
    {0x2B, {VK_TAB, 0x0F, N}},
    {0x2C, {VK_SPACE, 0x39, N}},
    {0x2D, {VK_OEM_MINUS, 0x0C, N}},
    {0x2E, {VK_OEM_PLUS, 0x0D, N}},
    {0x2F, {VK_OEM_4, 0x1A, N}},
    {0x30, {VK_OEM_6, 0x1B, N}},
    {0x31, {VK_OEM_5, 0x2B, N}},
    {0x32, {VK_OEM_5, 0x2B, N}},
    {0x33, {VK_OEM_1, 0x27, N}},
    {0x34, {VK_OEM_7, 0x28, N}},
    {0x35, {VK_OEM_3, 0x29, N}},
    {0x36, {VK_OEM_COMMA, 0x33, N}},
    {0x37, {VK_OEM_PERIOD, 0x34, N}},
    {0x38, {VK_OEM_2, 0x35, N}},
    {0x39, {VK_CAPITAL, 0x3A, N}},
    // F1-F12.
    {0x3A, {VK_F1 + 0, 0x3B, N}},
    {0x3B, {VK_F1 + 1, 0x3C, N}},
    {0x3C, {VK_F1 + 2, 0x3D, N}},
    {0x3D, {VK_F1 + 3, 0x3E, N}},
    {0x3E, {VK_F1 + 4, 0x3F, N}},
    {0x3F, {VK_F1 + 5, 0x40, N}},
    {0x40, {VK_F1 + 6, 0x41, N}},
    {0x41, {VK_F1 + 7, 0x42, N}},
    {0x42, {VK_F1 + 8, 0x43, N}},
    {0x43, {VK_F1 + 9, 0x44, N}},
    {0x44, {VK_F1 + 10, 0x57, N}},
    {0x45, {VK_F1 + 11, 0x58, N}},
    // The navigation block.
    {0x46, {VK_SNAPSHOT, 0x37, E}},
    {0x47, {VK_SCROLL, 0x46, N}},
    {0x48, {VK_PAUSE, 0x45, N}},
    {0x49, {VK_INSERT, 0x52, E}},
    {0x4A, {VK_HOME, 0x47, E}},
    {0x4B, {VK_PRIOR, 0x49, E}},
    {0x4C, {VK_DELETE, 0x53, E}},
    {0x4D, {VK_END, 0x4F, E}},
    {0x4E, {VK_NEXT, 0x51, E}},
    {0x4F, {VK_RIGHT, 0x4D, E}},
    {0x50, {VK_LEFT, 0x4B, E}},
    {0x51, {VK_DOWN, 0x50, E}},
    {0x52, {VK_UP, 0x48, E}},
    // The keypad.
    {0x53, {VK_NUMLOCK, 0x45, E}},
    {0x54, {VK_DIVIDE, 0x35, E}},
    {0x55, {VK_MULTIPLY, 0x37, N}},
    {0x56, {VK_SUBTRACT, 0x4A, N}},
    {0x57, {VK_ADD, 0x4E, N}},
    {0x58, {VK_RETURN, 0x1C, E}},
    {0x59, {VK_NUMPAD0 + 1, 0x4F, N}},
    {0x5A, {VK_NUMPAD0 + 2, 0x50, N}},
    {0x5B, {VK_NUMPAD0 + 3, 0x51, N}},
    {0x5C, {VK_NUMPAD0 + 4, 0x4B, N}},
    {0x5D, {VK_NUMPAD0 + 5, 0x4C, N}},
    {0x5E, {VK_NUMPAD0 + 6, 0x4D, N}},
    {0x5F, {VK_NUMPAD0 + 7, 0x47, N}},
    {0x60, {VK_NUMPAD0 + 8, 0x48, N}},
    {0x61, {VK_NUMPAD0 + 9, 0x49, N}},
    {0x62, {VK_NUMPAD0, 0x52, N}},
    {0x63, {VK_DECIMAL, 0x53, N}},
    // The 102nd key of ISO keyboards, the menu key.
    {0x64, {VK_OEM_102, 0x56, N}},
    {0x65, {VK_APPS, 0x5D, E}},
    // F13-F24.
    {0x68, {VK_F1 + 12, 0x64, N}},
    {0x69, {VK_F1 + 13, 0x65, N}},
    {0x6A, {VK_F1 + 14, 0x66, N}},
    {0x6B, {VK_F1 + 15, 0x67, N}},
    {0x6C, {VK_F1 + 16, 0x68, N}},
    {0x6D, {VK_F1 + 17, 0x69, N}},
    {0x6E, {VK_F1 + 18, 0x6A, N}},
    {0x6F, {VK_F1 + 19, 0x6B, N}},
    {0x70, {VK_F1 + 20, 0x6C, N}},
    {0x71, {VK_F1 + 21, 0x6D, N}},
    {0x72, {VK_F1 + 22, 0x6E, N}},
    {0x73, {VK_F1 + 23, 0x76, N}},
    // The Japanese keyboard's own keys: keypad comma, Ro, Katakana/Hiragana, Yen, Henkan,
    // Muhenkan, Hankaku/Zenkaku.
    {0x85, {VK_SEPARATOR, 0x7E, N}},
    {0x87, {VK_OEM_102, 0x73, N}},
    {0x88, {VK_OEM_COPY, 0x70, N}},
    {0x89, {VK_OEM_5, 0x7D, N}},
    {0x8A, {VK_CONVERT, 0x79, N}},
    {0x8B, {VK_NONCONVERT, 0x7B, N}},
    {0x94, {VK_OEM_AUTO, 0x29, N}},
    // Modifiers.
    {0xE0, {VK_CONTROL, 0x1D, N}},
    {0xE1, {VK_SHIFT, 0x2A, N}},
    {0xE2, {VK_MENU, 0x38, N}},
    {0xE3, {VK_LWIN, 0x5B, E}},
    {0xE4, {VK_CONTROL, 0x1D, E}},
    {0xE5, {VK_SHIFT, 0x36, N}},
    {0xE6, {VK_MENU, 0x38, E}},
    {0xE7, {VK_RWIN, 0x5C, E}},
};

constexpr unsigned kUsages = 0xE8;

struct Table {
  Key keys[kUsages] = {};
  constexpr Table() {
    for (const Row& r : kRows) keys[r.usage] = r.key;
  }
};

constexpr Table kTable;

}  // namespace

const Key* FromUsbUsage(unsigned usage) {
  if (usage >= kUsages || kTable.keys[usage].vk == 0) return nullptr;
  return &kTable.keys[usage];
}

LPARAM KeyLParam(const Key& key, bool down, bool repeat) {
  LPARAM lp = 1 | (static_cast<LPARAM>(key.scan) << 16);
  if (key.extended) lp |= LPARAM{1} << 24;
  if (repeat || !down) lp |= LPARAM{1} << 30;
  if (!down) lp |= LPARAM{1} << 31;
  return lp;
}

uint8_t Dik(const Key& key) {
  if (key.vk == VK_PAUSE) return 0xC5;
  if (key.vk == VK_NUMLOCK) return 0x45;
  return static_cast<uint8_t>(key.scan | (key.extended ? 0x80 : 0));
}

}  // namespace orvane::keymap
