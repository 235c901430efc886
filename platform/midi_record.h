// Tests: the headless host's MIDI recorder port. Every message sent to an open port is kept as
// sent (short messages as their status and data bytes, always three; system exclusive whole),
// with the ordinal of the timer callback that sent it (0 outside a timer callback).
#pragma once

#include <cstdint>
#include <vector>

#define ORVANE_MIDI_API __attribute__((visibility("default")))

namespace orvane::midi {

struct RecordedMessage {
  std::vector<std::uint8_t> bytes;
  std::uint32_t callback = 0;  // timer callback ordinal; 0 outside a callback
};

// A copy of the messages recorded so far, in sending order.
ORVANE_MIDI_API std::vector<RecordedMessage> Recorded();
// Forgets the recorded messages and the failure plan.
ORVANE_MIDI_API void ClearRecorded();
// The n-th message from now on (1 = the next one) fails with MMSYSERR_ERROR and is not
// recorded; 0 fails none.
ORVANE_MIDI_API void FailMessage(unsigned n);
// While on, midiOutOpen fails with MMSYSERR_NODRIVER.
ORVANE_MIDI_API void FailOpen(bool on);
// The ordinal the next timer callback of the process will get (to check ordinals relative to a
// start).
ORVANE_MIDI_API std::uint32_t NextTimerCallback();
// Headless host: while on, midiOutOpen opens the synthesizer port (rendering into the mixer,
// e.g. the manual sink) instead of the recorder.
ORVANE_MIDI_API void UseSynthesizer(bool on);
// Ports open now.
ORVANE_MIDI_API int OpenPorts();

}  // namespace orvane::midi
