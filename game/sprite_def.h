// Sprite definition files ("<name>.spr") and the one-line animation shorthand of one-picture
// sprites.
#pragma once

#include <cstdint>

// Reads the definition and creates the sprite in the slot (sprCreate), its style parsed over the
// initial flags; pictures are looked up beside the definition.
void LoadSpriteDef(int32_t slot, int32_t sprite_class, const char* name, int32_t x, int32_t y, int32_t level,
                   uint32_t initial_flags, const char* wipe);
// A one-picture sprite cut into cells and animated as the shorthand says: columns, a mode (stop,
// loop, rloop), durations in ms, and s<n> for n rows of one animation set each.
void sprCreateAnim(int32_t slot, int32_t sprite_class, const char* path, int32_t x, int32_t y, int32_t w,
                   int32_t h, int32_t level, const char* trans, const char* anim, uint32_t initial_flags,
                   const char* style, const char* wipe);
