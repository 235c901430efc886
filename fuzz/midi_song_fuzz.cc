// Fuzz target: loads arbitrary bytes as a Standard MIDI File and plays it for a bounded number of
// ticks (repeat count 0, a seek and a fade) against a device with no port open.
#include <cstddef>
#include <cstdint>

#include "media/midi/midi_sequencer.h"

namespace {

class FuzzSequencer : public MidiSequencer {
 public:
  void OnFadeOutDone() override {}
  void OnFadeInDone() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  DFile file;
  if (!file.OpenMemory(DString("fuzz.mid"), static_cast<uint32_t>(size), DFile::kRead | DFile::kWrite))
    return 0;
  if (file.Write(data, static_cast<uint32_t>(size)) != static_cast<int64_t>(size)) return 0;
  file.Seek(DFile::kSeekStart, 0);
  DRef<MidiSong> song;
  song.Alloc(1);
  if (!song->Load(file, 0, 1500, 1)) return 0;
  DRef<MidiPlayList> list;
  list.Alloc(1);
  list->Add(song);
  list->Rewind();
  MidiOutDevice device;  // no port: every send fails without reaching the platform
  FuzzSequencer seq;
  seq.Attach(&device);
  seq.SetPlayList(list);
  seq.Seek(size > 8 ? data[size - 1] * 100u : 0u);
  seq.FadeOut(500);
  for (int i = 0; i < 3000 && seq.Tick(i < 1000 ? 10 : 100000); ++i) {
  }
  seq.Detach();
  return 0;
}
