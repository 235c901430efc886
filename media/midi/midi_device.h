// One MIDI output port: short channel messages, system exclusive messages, All Sound Off on every
// channel and a device reset.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "platform/mmsystem.h"

class MidiOutDevice : public DObject {
 public:
  MidiOutDevice() = default;
  MidiOutDevice(const MidiOutDevice&) = delete;
  MidiOutDevice& operator=(const MidiOutDevice&) = delete;
  // Resets and closes a port still open.
  ~MidiOutDevice() override;

  // Every operation below fails, without touching the platform, while no port is open.
  virtual bool IsOpen() const { return handle_ != nullptr; }
  // Sends `length` bytes of data as one system exclusive message; returns once the port is done
  // with them.
  virtual bool SendLong(DRef<uint8_t> data, uint32_t length);
  virtual bool SendShort(uint8_t status, uint8_t data1, uint8_t data2);
  // The three bytes status, data1, data2 at message[0..2].
  virtual bool SendShort(const DRef<uint8_t>& message);
  // Mode 1: General MIDI 2 on; 2: GS reset; any other: General MIDI on. Waits 50 ms after it.
  virtual bool Reset(uint32_t mode);
  // Control change 120 on channels 0 to 15; stops at the first failure.
  virtual bool AllSoundOff();

  HMIDIOUT& Handle() { return handle_; }

 private:
  HMIDIOUT handle_ = nullptr;
};
