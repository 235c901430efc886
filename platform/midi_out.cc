// midiOut*: one output port at a time per open handle. The headless host records every message;
// otherwise (or on a test's request) the synthesizer module, loaded on the first open, renders
// into the mixer.
#include <dlfcn.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/midi_port.h"
#include "platform/midi_record.h"
#include "platform/mmsystem.h"

namespace orvane::midi {
namespace {

std::mutex g_lock;
// The objects below are made on first use and never destroyed: a run that never needs them never
// touches them (nor their pages at start and exit), and code running during exit still finds them.
std::vector<RecordedMessage>& RecordLog() {
  static auto* made = new std::vector<RecordedMessage>;
  return *made;
}
unsigned g_fail_countdown = 0;  // 1 = the next message fails
bool g_fail_open = false;
bool g_use_synth = false;
std::set<MidiPort*>& Ports() {
  static auto* made = new std::set<MidiPort*>;
  return *made;
}

class RecorderPort : public MidiPort {
 public:
  MMRESULT Short(const std::uint8_t* bytes, unsigned count) override { return Record(bytes, count, 3); }
  MMRESULT Long(const std::uint8_t* bytes, unsigned count) override { return Record(bytes, count, count); }

 private:
  static MMRESULT Record(const std::uint8_t* bytes, unsigned count, unsigned keep) {
    std::lock_guard l(g_lock);
    if (g_fail_countdown != 0 && --g_fail_countdown == 0) return MMSYSERR_ERROR;
    RecordedMessage m;
    m.bytes.assign(keep, 0);
    std::memcpy(m.bytes.data(), bytes, count < keep ? count : keep);
    m.callback = CurrentTimerCallback();
    RecordLog().push_back(std::move(m));
    return MMSYSERR_NOERROR;
  }
};

// Loads libplatform_fluid.so from beside libplatform.so once; null when it cannot be loaded.
FluidOpenPortFn SynthEntry() {
  static FluidOpenPortFn entry = []() -> FluidOpenPortFn {
    Dl_info self{};
    std::string dir;
    if (dladdr(reinterpret_cast<void*>(&SynthEntry), &self) && self.dli_fname) {
      dir = self.dli_fname;
      size_t slash = dir.rfind('/');
      dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    }
    void* module = dlopen((dir + "libplatform_fluid.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    return reinterpret_cast<FluidOpenPortFn>(dlsym(module, "OrvaneFluidOpenPort"));
  }();
  return entry;
}

MidiPort* Port(HMIDIOUT out) {
  auto* p = reinterpret_cast<MidiPort*>(out);
  std::lock_guard l(g_lock);
  return Ports().count(p) ? p : nullptr;
}

}  // namespace

std::vector<RecordedMessage> Recorded() {
  std::lock_guard l(g_lock);
  return RecordLog();
}
void ClearRecorded() {
  std::lock_guard l(g_lock);
  RecordLog().clear();
  g_fail_countdown = 0;
}
void FailMessage(unsigned n) {
  std::lock_guard l(g_lock);
  g_fail_countdown = n;
}
void FailOpen(bool on) {
  std::lock_guard l(g_lock);
  g_fail_open = on;
}
void UseSynthesizer(bool on) {
  std::lock_guard l(g_lock);
  g_use_synth = on;
}
int OpenPorts() {
  std::lock_guard l(g_lock);
  return static_cast<int>(Ports().size());
}

}  // namespace orvane::midi

namespace om = orvane::midi;

MMRESULT midiOutOpen(LPHMIDIOUT out, UINT device_id, DWORD_PTR /*callback*/, DWORD_PTR /*instance*/,
                     DWORD /*flags*/) {
  if (!out) return MMSYSERR_INVALPARAM;
  *out = nullptr;
  if (device_id != MIDI_MAPPER && device_id != 0) return MMSYSERR_BADDEVICEID;
  bool synth;
  {
    std::lock_guard l(om::g_lock);
    if (om::g_fail_open) return MMSYSERR_NODRIVER;
    synth = om::g_use_synth || std::strcmp(orvane::host::CurrentName(), "headless") != 0;
  }
  om::MidiPort* port = nullptr;
  if (synth) {
    om::FluidOpenPortFn entry = om::SynthEntry();
    if (!entry) return MMSYSERR_NODRIVER;
    MMRESULT error = MMSYSERR_NODRIVER;
    port = entry(&error);
    if (!port) return error ? error : MMSYSERR_NODRIVER;
  } else {
    port = new om::RecorderPort;
  }
  std::lock_guard l(om::g_lock);
  om::Ports().insert(port);
  *out = reinterpret_cast<HMIDIOUT>(port);
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutShortMsg(HMIDIOUT out, DWORD msg) {
  om::MidiPort* port = om::Port(out);
  if (!port) return MMSYSERR_INVALHANDLE;
  std::uint8_t b[3] = {static_cast<std::uint8_t>(msg), static_cast<std::uint8_t>(msg >> 8),
                       static_cast<std::uint8_t>(msg >> 16)};
  if (b[0] < 0x80) return MMSYSERR_INVALPARAM;
  return port->Short(b, 3);
}

MMRESULT midiOutPrepareHeader(HMIDIOUT out, LPMIDIHDR header, UINT size) {
  if (!om::Port(out)) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR) || !header->lpData) return MMSYSERR_INVALPARAM;
  header->dwFlags |= MHDR_PREPARED;
  header->dwFlags &= ~MHDR_DONE;
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT out, LPMIDIHDR header, UINT size) {
  if (!om::Port(out)) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutLongMsg(HMIDIOUT out, LPMIDIHDR header, UINT size) {
  om::MidiPort* port = om::Port(out);
  if (!port) return MMSYSERR_INVALHANDLE;
  if (!header || size < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
  if (!(header->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
  header->dwFlags &= ~MHDR_DONE;
  MMRESULT r = port->Long(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength);
  // Delivered synchronously: the header is done whether or not the port took it.
  header->dwFlags |= MHDR_DONE;
  return r;
}

MMRESULT midiOutReset(HMIDIOUT out) {
  om::MidiPort* port = om::Port(out);
  if (!port) return MMSYSERR_INVALHANDLE;
  for (std::uint8_t ch = 0; ch < 16; ++ch) {
    std::uint8_t sustain[3] = {static_cast<std::uint8_t>(0xB0 | ch), 64, 0};
    std::uint8_t notes_off[3] = {static_cast<std::uint8_t>(0xB0 | ch), 123, 0};
    port->Short(sustain, 3);
    port->Short(notes_off, 3);
  }
  return MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT out) {
  auto* p = reinterpret_cast<om::MidiPort*>(out);
  {
    std::lock_guard l(om::g_lock);
    if (!om::Ports().erase(p)) return MMSYSERR_INVALHANDLE;
  }
  delete p;
  return MMSYSERR_NOERROR;
}
