// The engine's units in start-up order: one table that start-up, shutdown, suspension and the GDI
// mode walk. A unit whose code does not exist yet is an inert row: it starts successfully, and
// its log line is written like every other.
#pragma once

#include <cstdint>
#include <vector>

// Which display variant a row belongs to: the start-up flag "tss" chooses the sprite system
// instead of the Draw unit.
enum class UnitVariant : uint8_t { kAlways, kTssOnly, kDrawOnly };

struct EngineUnit {
  const char* name;  // "Window", "Draw", "Midi" ...
  UnitVariant variant;
  bool (*start)();                            // null: nothing to start
  void (*stop)();                             // null: nothing to stop; must be harmless when never started
  bool stop_on_failure;                       // a failing start ends start-up; otherwise it is ignored
  const char* log_line;                       // written to the debug log after the start, whatever its result
  void (*suspend)() = nullptr;                // the engine lost the user's attention (null: not concerned)
  void (*resume)() = nullptr;                 // it came back
  void (*use_gdi)(bool on) = nullptr;         // display units: one more (or one less) request for GDI mode
  void (*set_time_pause)(bool on) = nullptr;  // whether the unit pauses while the engine is suspended
};

// The table the engine runs; tests replace it with fakes and put it back.
std::vector<EngineUnit>& EngineUnits();
// The engine's own table.
std::vector<EngineUnit> DefaultEngineUnits();

// Whether a row takes part under the start-up flags.
bool UnitSelected(const EngineUnit& unit, uint32_t startup_flags);

// The order in which suspension reaches the units: MIDI, sound, movies, then the frame timer; the
// display comes last on resume (it redraws the whole screen).
inline constexpr const char* kSuspendOrder[] = {"Midi", "Sound", "Movie", "Time", "Draw", "TSS"};

// Suspends (true) or resumes (false) every selected unit in kSuspendOrder.
void SuspendUnits(bool suspend);
// One request more (true) or less (false) for GDI mode of the selected display unit.
void DisplayUseGdi(bool on);
// Passes the pause-while-suspended choice to every selected unit that takes it.
void SetUnitsTimePause(bool on);
