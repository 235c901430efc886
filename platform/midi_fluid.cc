// The synthesizer module (libplatform_fluid.so): a MIDI output port on libfluidsynth that renders
// into the platform mixer as one more source. libplatform.so loads it on the first midiOutOpen
// that needs it and never links the synthesizer itself.
#include <fluidsynth.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/midi_port.h"
#include "platform/mixer.h"

namespace {

constexpr unsigned kBlockFrames = 512;

// The font: ORVANE_SOUNDFONT when set, else the system's General MIDI default.
std::string FontPath() {
  const char* env = std::getenv("ORVANE_SOUNDFONT");
  if (env && *env) return env;
  return "/usr/share/sounds/sf2/default-GM.sf2";
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class FluidPort : public orvane::midi::MidiPort, public orvane::audio::MixSource {
 public:
  ~FluidPort() override {
    orvane::audio::RemoveSource(this);
    if (synth_) delete_fluid_synth(synth_);
    if (settings_) delete_fluid_settings(settings_);
  }

  MMRESULT Open() {
    const std::string font = FontPath();
    if (!IsFile(font)) return MMSYSERR_NODRIVER;
    orvane::audio::EnsureSink();
    rate_ = orvane::audio::MixerRate();
    settings_ = new_fluid_settings();
    if (!settings_) return MMSYSERR_NODRIVER;
    fluid_settings_setnum(settings_, "synth.sample-rate", static_cast<double>(rate_));
    fluid_settings_setint(settings_, "synth.threadsafe-api", 1);
    // Dry output: no reverb or chorus tail outlives an All Sound Off.
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    synth_ = new_fluid_synth(settings_);
    if (!synth_ || fluid_synth_sfload(synth_, font.c_str(), 1) == FLUID_FAILED) return MMSYSERR_NODRIVER;
    orvane::audio::AddSource(this);
    return MMSYSERR_NOERROR;
  }

  MMRESULT Short(const std::uint8_t* b, unsigned) override {
    const int ch = b[0] & 0x0F;
    int r = FLUID_OK;
    switch (b[0] & 0xF0) {
      case 0x80:
        r = fluid_synth_noteoff(synth_, ch, b[1]);
        break;
      case 0x90:
        r = b[2] ? fluid_synth_noteon(synth_, ch, b[1], b[2]) : fluid_synth_noteoff(synth_, ch, b[1]);
        break;
      case 0xA0:
        r = fluid_synth_key_pressure(synth_, ch, b[1], b[2]);
        break;
      case 0xB0:
        r = fluid_synth_cc(synth_, ch, b[1], b[2]);
        break;
      case 0xC0:
        r = fluid_synth_program_change(synth_, ch, b[1]);
        break;
      case 0xD0:
        r = fluid_synth_channel_pressure(synth_, ch, b[1]);
        break;
      case 0xE0:
        r = fluid_synth_pitch_bend(synth_, ch, (b[1] & 0x7F) | (b[2] & 0x7F) << 7);
        break;
      default:  // system messages: nothing to play
        break;
    }
    // A note-off for a note that is not sounding is no failure of the port.
    (void)r;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Long(const std::uint8_t* bytes, unsigned count) override {
    if (count < 2 || bytes[0] != 0xF0) return MMSYSERR_INVALPARAM;
    unsigned body = count - 1;
    if (bytes[count - 1] == 0xF7) --body;
    fluid_synth_sysex(synth_, reinterpret_cast<const char*>(bytes + 1), static_cast<int>(body), nullptr,
                      nullptr, nullptr, 0);
    return MMSYSERR_NOERROR;
  }

  void Mix(std::int32_t* acc, unsigned frames, unsigned) override {
    while (frames) {
      unsigned n = frames < kBlockFrames ? frames : kBlockFrames;
      fluid_synth_write_float(synth_, static_cast<int>(n), block_, 0, 2, block_, 1, 2);
      for (unsigned i = 0; i < 2 * n; ++i) {
        float v = block_[i] * 32767.0f;  // no dither: silence stays exactly 0
        v = v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v;
        acc[i] += static_cast<std::int32_t>(v);
      }
      acc += 2 * n;
      frames -= n;
    }
  }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  unsigned rate_ = 44100;
  float block_[2 * kBlockFrames] = {};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) orvane::midi::MidiPort* OrvaneFluidOpenPort(
    MMRESULT* error) {
  // The library's own log lines (font warnings and the like) stay out of the engine's output.
  for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) fluid_set_log_function(level, nullptr, nullptr);
  auto* port = new FluidPort;
  MMRESULT r = port->Open();
  if (r != MMSYSERR_NOERROR) {
    delete port;
    if (error) *error = r;
    return nullptr;
  }
  return port;
}
