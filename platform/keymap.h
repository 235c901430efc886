// The keyboard's one table: each key, named by its USB HID usage id (which is SDL's scan code),
// with its virtual-key code and its PC set-1 scan code.
//
// Every key of a 101/104-key US and a 106/109-key Japanese keyboard is in it. Virtual-key codes
// are those of the key's position: keys both keyboards share give the US layout's codes (the key
// right of P is VK_OEM_4 on both), the Japanese keyboard's own keys give theirs (Yen VK_OEM_5,
// Ro VK_OEM_102, Henkan VK_CONVERT, Muhenkan VK_NONCONVERT, Katakana/Hiragana VK_OEM_COPY,
// Hankaku/Zenkaku VK_OEM_AUTO). The set-1 scan code is the byte a PC keyboard sends; extended
// keys (the ones sent after an E0 prefix) carry the extended flag.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

namespace orvane::keymap {

struct Key {
  uint8_t vk;     // virtual-key code
  uint8_t scan;   // PC set-1 scan code, without the E0 prefix
  bool extended;  // sent after E0 (bit 24 of a key message's lParam)
};

// The key of a USB usage id (SDL_Scancode value); null for an id without a key here.
__attribute__((visibility("default"))) const Key* FromUsbUsage(unsigned usage);

// The lParam of a key message: repeat count 1, the scan code in bits 16-23, the extended flag
// in bit 24, the previous key state in bit 30 (set for a repeat and for a release) and the
// transition state in bit 31 (set for a release).
__attribute__((visibility("default"))) LPARAM KeyLParam(const Key& key, bool down, bool repeat);

// The key's DirectInput code: the set-1 scan code with bit 0x80 for an extended key (DIK_UP is
// 0xC8). Pause and Num Lock swap: the key messages give Num Lock the extended flag, DirectInput
// gives it to Pause (0xC5) and not to Num Lock (0x45).
__attribute__((visibility("default"))) uint8_t Dik(const Key& key);

}  // namespace orvane::keymap
