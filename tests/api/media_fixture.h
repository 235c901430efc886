// A built-in frame with the media units on the headless host: the sound device on the manual
// sink (1000 frames a second), files in a scratch program directory, and KMF archives.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "api/api_common.h"
#include "api/ov_api.h"
#include "api_fixture.h"
#include "media/dsnd.h"
#include "media/sound_handle.h"
#include "platform/mixer.h"
#include "shell/engine.h"
#include "tests/media/riff_builder.h"
#include "tests/media/smf_builder.h"
#include "tests/support/kmf_archive.h"
#include "tests/support/scratch_dir.h"
#include "tools/meiasm/meiasm.h"
#include "vm/script_loader.h"

namespace media_test {

constexpr unsigned kRate = 1000;

// 16-bit stereo frames: left = n, right = -n for n from `first`.
inline std::vector<int16_t> Ramp(int first, int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(static_cast<int16_t>(first + i));
    s.push_back(static_cast<int16_t>(-(first + i)));
  }
  return s;
}
inline std::vector<int16_t> Flat(int16_t v, int frames) {
  return std::vector<int16_t>(static_cast<size_t>(frames) * 2, v);
}
inline std::string WavBytes(const std::vector<int16_t>& samples, uint32_t rate = kRate) {
  using namespace orvane_test;
  return Wav(Fmt(1, 2, rate, 16), Pcm16(samples));
}
// A song of one note on channel 0, 100 ms long at the default tempo (division 96).
inline std::string SmfBytes(uint8_t note = 60) {
  smf::Track t;
  t.Ev(0, {0x90, note, 100}).Ev(16, {0x80, note, 0}).End();
  smf::Bytes b = smf::File(96, {t}, 0);
  return std::string(b.begin(), b.end());
}

inline std::string U32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
// A KMF archive of the members, as tests/support/kmf_archive.h builds it.
inline constexpr auto* Archive = &orvane_test::KmfArchive;

inline std::vector<int16_t> Step(unsigned frames) {
  std::vector<int16_t> out;
  orvane::audio::StepManualSink(frames, &out);
  return out;
}

class MediaFrame : public BuiltinFrame {
 protected:
  void SetUp() override {
    BuiltinFrame::SetUp();
    SetProgramDirectory((scratch_.Dir() + "/").c_str());
    orvane::audio::SetDsoundFaults({});
    orvane::audio::UseManualSink(kRate);
    SoundHandle::UseDevice(&dsnd_);
  }
  void TearDown() override {
    CurrentTask().Release();
    EndAllTasks();
    MountedDataFile().Release();
    ClearCurrentObjects();
    dsnd_.Release();
    SoundHandle::UseDevice(nullptr);
    orvane::audio::StopSink();
    BuiltinFrame::TearDown();
  }
  void Mount(const std::vector<std::pair<std::string, std::string>>& members) {
    scratch_.Write("data.dat", Archive(members));
    MountedDataFile().Alloc(1);
    ASSERT_TRUE(MountedDataFile()->MountFile(DString(scratch_.Path("data.dat").c_str())));
  }
  // A task in the task list loaded from `dir` (relative to the scratch directory).
  DRef<ScriptTask> ListedTask(const std::string& dir = "") {
    const auto bytes = meiasm::Assemble(".globals 1\n.method main\n.export 0\n OpReturn\n");
    const std::string path = scratch_.Path(dir + "t.mei");
    scratch_.Write(dir + "t.mei", std::string(bytes.begin(), bytes.end()));
    return LoadScript(path.c_str(), {}, 0, "main", kTaskList, true);
  }
  std::string LastBox() { return Boxes().empty() ? "" : Boxes().back().text; }

  Dsnd dsnd_;
  orvane_test::ScratchDir scratch_{"orvane_api_media_"};
};

}  // namespace media_test
