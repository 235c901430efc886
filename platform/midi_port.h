// The MIDI output port behind midiOut*: the headless recorder or the synthesizer module.
#pragma once

#include <cstdint>

#include "platform/mmsystem.h"

namespace orvane::midi {

class MidiPort {
 public:
  virtual ~MidiPort() = default;
  // One channel or system message of 1 to 3 bytes.
  virtual MMRESULT Short(const std::uint8_t* bytes, unsigned count) = 0;
  // One system exclusive message, whole.
  virtual MMRESULT Long(const std::uint8_t* bytes, unsigned count) = 0;
};

// The synthesizer module's entry point (libplatform_fluid.so, symbol "OrvaneFluidOpenPort"):
// a new port rendering into the mixer, or null with *error set (MMSYSERR_NODRIVER when no
// sound font is found).
using FluidOpenPortFn = MidiPort* (*)(MMRESULT* error);

// The ordinal of the timer callback running on this thread (counted over every timer of the
// process from 1), 0 outside a timer callback.
std::uint32_t CurrentTimerCallback();

}  // namespace orvane::midi
