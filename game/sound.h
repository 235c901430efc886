// Sound effects and background music: effects played once through the sound cache, music
// streamed by the engine from the pieces that the list file "bgm/list.txt" names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/ov_api.h"
#include "game/scenario.h"

// Sizes of a music record's texts (with the NUL).
inline constexpr size_t kBgmNameSize = 256;

// One piece of music of the list: its name, a prelude played once and a body repeated without
// end (file names under "bgm"; either may be empty).
struct DBgm {
  char name[kBgmNameSize] = "";
  char prelude[kPathSize] = "";
  char body[kPathSize] = "";
};

// Redraws, fetches the effect (as written or with "wav", "ogg", "mp3") through the sound cache,
// keeps it as the current effect and plays it once. A missing or refused sound is silence.
void sePlay(const char* path);
// Drops the current effect.
void ReleaseSe();

// Fills the music table from "bgm/list.txt" when it exists. A line that is not a valid "@bgm"
// entry ends the play with its fatal error.
void LoadBgmList();
// Plays the music of a list name, keeps the music of the name playing now, or stops the music
// for an empty name. A name the list does not define ends the play after the old music stopped.
void bgmPlay(const char* name);
// Empties the table, destroys the stream and forgets the current name.
void ReleaseBgm();

// The table as the list defined it: the highest number + 1 (0 when empty), and the record of a
// number (null for an empty slot).
int64_t BgmCount();
const DBgm* BgmRecord(int64_t number);
// The name asked for last and the engine stream playing (null: none).
const char* CurrentBgmName();
ApiHandle* CurrentBgmStream();
