// The keyboard table: every key of the US and Japanese keyboards, set-1 scan codes, the
// extended flag and the key-message lParam.
#include "platform/keymap.h"

#include <gtest/gtest.h>

#include "platform/user.h"

namespace {

using orvane::keymap::FromUsbUsage;
using orvane::keymap::Key;
using orvane::keymap::KeyLParam;

TEST(Keymap, KeysGiveTheirVirtualKeyAndSet1ScanCode) {
  struct Case {
    unsigned usage;
    unsigned vk, scan;
    bool extended;
  } cases[] = {
      {0x04, 'A', 0x1E, false},           {0x29, VK_ESCAPE, 0x01, false},   {0x3A, VK_F1, 0x3B, false},
      {0x45, VK_F1 + 11, 0x58, false},    {0x27, '0', 0x0B, false},         {0x36, VK_OEM_COMMA, 0x33, false},
      {0x37, VK_OEM_PERIOD, 0x34, false}, {0x38, VK_OEM_2, 0x35, false},    {0x2D, VK_OEM_MINUS, 0x0C, false},
      {0x2F, VK_OEM_4, 0x1A, false},      {0x30, VK_OEM_6, 0x1B, false},    {0x33, VK_OEM_1, 0x27, false},
      {0x4F, VK_RIGHT, 0x4D, true},       {0x58, VK_RETURN, 0x1C, true},    {0x28, VK_RETURN, 0x1C, false},
      {0xE4, VK_CONTROL, 0x1D, true},     {0xE0, VK_CONTROL, 0x1D, false},  {0xE6, VK_MENU, 0x38, true},
      {0x54, VK_DIVIDE, 0x35, true},      {0x53, VK_NUMLOCK, 0x45, true},   {0x48, VK_PAUSE, 0x45, false},
      {0x87, VK_OEM_102, 0x73, false},    {0x89, VK_OEM_5, 0x7D, false},    {0x8A, VK_CONVERT, 0x79, false},
      {0x8B, VK_NONCONVERT, 0x7B, false}, {0x88, VK_OEM_COPY, 0x70, false}, {0x62, VK_NUMPAD0, 0x52, false},
  };
  for (const Case& c : cases) {
    const Key* key = FromUsbUsage(c.usage);
    ASSERT_NE(key, nullptr) << std::hex << c.usage;
    EXPECT_EQ(key->vk, c.vk) << std::hex << c.usage;
    EXPECT_EQ(key->scan, c.scan) << std::hex << c.usage;
    EXPECT_EQ(key->extended, c.extended) << std::hex << c.usage;
  }
  EXPECT_EQ(FromUsbUsage(0), nullptr);
  EXPECT_EQ(FromUsbUsage(0x66), nullptr);  // power: no key of ours
  EXPECT_EQ(FromUsbUsage(100000), nullptr);
}

TEST(Keymap, EveryKeyOfBothKeyboardsIsMapped) {
  // 0x04-0x65: letters to the menu key (a 104-key US and a 109-key Japanese keyboard share
  // these positions), the Japanese keys, the modifiers.
  for (unsigned usage = 0x04; usage <= 0x65; ++usage)
    EXPECT_NE(FromUsbUsage(usage), nullptr) << std::hex << usage;
  for (unsigned usage : {0x87u, 0x88u, 0x89u, 0x8Au, 0x8Bu, 0x94u})
    EXPECT_NE(FromUsbUsage(usage), nullptr) << std::hex << usage;
  for (unsigned usage = 0xE0; usage <= 0xE7; ++usage)
    EXPECT_NE(FromUsbUsage(usage), nullptr) << std::hex << usage;
}

TEST(Keymap, KeyMessageLParam) {
  const Key& a = *FromUsbUsage(0x04);
  const Key& right = *FromUsbUsage(0x4F);
  EXPECT_EQ(KeyLParam(a, true, false), 0x001E0001);
  EXPECT_EQ(KeyLParam(a, true, true), 0x401E0001);
  EXPECT_EQ(KeyLParam(a, false, false), static_cast<LPARAM>(0xC01E0001u));
  EXPECT_EQ(KeyLParam(right, true, false), 0x014D0001);
}

}  // namespace

TEST(Keymap, KeysGiveTheirDirectInputCode) {
  struct Case {
    unsigned usage;
    uint8_t dik;
  } cases[] = {
      {0x29, 0x01},  // Escape
      {0x04, 0x1E},  // A
      {0x1D, 0x2C},  // Z
      {0x28, 0x1C},  // Return
      {0x58, 0x9C},  // keypad Enter (extended)
      {0x52, 0xC8},  // Up
      {0x51, 0xD0},  // Down
      {0x50, 0xCB},  // Left
      {0x4F, 0xCD},  // Right
      {0xE4, 0x9D},  // right Control
      {0x48, 0xC5},  // Pause
      {0x53, 0x45},  // Num Lock
      {0x46, 0xB7},  // Print Screen
      {0x89, 0x7D},  // Yen
  };
  for (const Case& c : cases) {
    const orvane::keymap::Key* key = FromUsbUsage(c.usage);
    ASSERT_NE(key, nullptr) << std::hex << c.usage;
    EXPECT_EQ(orvane::keymap::Dik(*key), c.dik) << std::hex << c.usage;
  }
}
