// Testimonies and cross-examinations: the inquiry file with the witness's statements, the two
// ways of playing it, and the commands that only its sub-scenarios may use.
#pragma once

#include <cstdint>
#include <vector>

#include "game/scenario.h"

// Statement flags.
inline constexpr uint32_t kSectionEnabled = 0x1, kSectionWipe = 0x2, kSectionKurae = 0x4;
// The highest statement number an inquiry file may use.
inline constexpr int32_t kMaxSectionNumber = 65535;

// One statement of the witness.
struct DInquirySection {
  uint32_t flags = 0;
  char picture[kPathSize] = "";
  int32_t x = 0, y = 0;
  char speech[256] = "";
  char shake[kPathSize] = "";
  int32_t item = -1;
  char success[kPathSize] = "";
  char miss[kPathSize] = "";
  char end[kPathSize] = "";
};

// The state of one testimony or cross-examination.
struct DInquiry {
  uint8_t end_request = 0;
  uint8_t break_request = 0;
  char path[kPathSize] = "";
  char title[256] = "";
  char subscn[kPathSize] = "";
  char name[256] = "";
  // Grown in blocks of 32 records; records past count are empty.
  std::vector<DInquirySection> sections;
  uint32_t count = 0;

  bool Enabled(uint32_t n) const { return n < count && (sections[n].flags & kSectionEnabled); }
};

// Clears the object and reads "<chapter folder>/<file>.inq" into it.
void LoadInquiryFile(DInquiry& inquiry, const char* file);
// Runs a testimony or a cross-examination; true when the scene must end.
bool inquiryRun(const char* file, const char* bgm, bool testimony);
// Runs a sub-scenario; true when it ended with @exit (its result code passed to the caller).
bool RunInquirySubScenario(const char* target, const char* file);
void inquiryEnableSpeech(int32_t no);
void inquiryDisableSpeech(int32_t no);
void inquiryExit();
void inquiryRewind();
// The running cross-examination; null outside inquiryRun.
DInquiry* CurrentInquiry();
// No cross-examination running: at each start of the game.
void ResetInquiryGlobals();
