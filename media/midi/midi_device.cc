#include "media/midi/midi_device.h"

#include <cstring>

MidiOutDevice::~MidiOutDevice() {
  if (handle_) {
    midiOutReset(handle_);
    midiOutClose(handle_);
    handle_ = nullptr;
  }
}

bool MidiOutDevice::SendShort(uint8_t status, uint8_t data1, uint8_t data2) {
  if (!handle_) return false;
  DWORD msg = status | static_cast<DWORD>(data1) << 8 | static_cast<DWORD>(data2) << 16;
  return midiOutShortMsg(handle_, msg) == MMSYSERR_NOERROR;
}

bool MidiOutDevice::SendShort(const DRef<uint8_t>& message) {
  if (!handle_ || !message) return false;
  return SendShort(message[0], message[1], message[2]);
}

bool MidiOutDevice::SendLong(DRef<uint8_t> data, uint32_t length) {
  if (!handle_ || !data) return false;
  MIDIHDR header;
  std::memset(&header, 0, sizeof header);
  header.lpData = reinterpret_cast<char*>(data.Get());
  header.dwBufferLength = length;
  if (midiOutPrepareHeader(handle_, &header, sizeof header) != MMSYSERR_NOERROR) return false;
  if (midiOutLongMsg(handle_, &header, sizeof header) != MMSYSERR_NOERROR) {
    midiOutUnprepareHeader(handle_, &header, sizeof header);
    return false;
  }
  while (!(header.dwFlags & MHDR_DONE)) Sleep(0);
  midiOutUnprepareHeader(handle_, &header, sizeof header);
  return true;
}

bool MidiOutDevice::Reset(uint32_t mode) {
  static const uint8_t kGm2On[] = {0xF0, 0x7E, 0x7F, 0x09, 0x03, 0xF7};
  static const uint8_t kGsReset[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
  static const uint8_t kGmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  if (!handle_) return false;
  const uint8_t* bytes = mode == 1 ? kGm2On : mode == 2 ? kGsReset : kGmOn;
  uint32_t length = mode == 1 ? sizeof kGm2On : mode == 2 ? sizeof kGsReset : sizeof kGmOn;
  DRef<uint8_t> data;
  data.Alloc(length);
  std::memcpy(data.Get(), bytes, length);
  if (!SendLong(data, length)) return false;
  Sleep(50);
  return true;
}

bool MidiOutDevice::AllSoundOff() {
  if (!handle_) return false;
  for (uint8_t ch = 0; ch < 16; ++ch) {
    if (!SendShort(static_cast<uint8_t>(0xB0 | ch), 120, 0)) return false;
  }
  return true;
}
