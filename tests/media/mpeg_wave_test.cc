// MPEG audio and Ogg Vorbis through the audio file reader: the decoders installed behind its
// seams, and MPEG audio inside a WAV file through the ACM driver.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "media/dsnd.h"
#include "media/dsnd_data.h"
#include "media/dsnd_stream.h"
#include "media/dwave.h"
#include "media/mpeg/mp3_decoder.h"
#include "media/mpeg/mpeg_audio_install.h"
#include "media/sound_handle.h"
#include "platform/mixer.h"
#include "tests/media/mpeg_vectors.h"

namespace {

using namespace mpeg_vectors;

void MemoryFile(DFile& f, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(f.OpenMemory(static_cast<uint32_t>(bytes.size()), DFile::kRead | DFile::kWrite));
  ASSERT_EQ(f.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), int64_t(bytes.size()));
  ASSERT_TRUE(f.Seek(DFile::kSeekStart, 0));
}

std::vector<uint8_t> ReadAll(DWave& w, uint32_t chunk) {
  std::vector<uint8_t> pcm, buf(chunk);
  for (;;) {
    const int32_t r = w.Read(buf.data(), chunk);
    EXPECT_GE(r, 0);
    if (r <= 0) break;
    pcm.insert(pcm.end(), buf.begin(), buf.begin() + r);
  }
  return pcm;
}

// The decoder's own output for a whole MPEG file, frame after frame.
std::vector<uint8_t> DecodeDirect(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> pcm;
  auto d = std::make_unique<Mp3Decoder>();
  d->Clear();
  Mp3FrameInfo fi;
  if (!d->GetFrameInfo(data.data(), 156, &fi, false)) return pcm;
  d->SetOptions(Mp3DecodeOptions{0, 0, fi.rate});
  if (!d->InitFromFrame(data.data(), static_cast<uint32_t>(data.size()))) return pcm;
  std::vector<uint8_t> out(fi.pcm_bytes);
  size_t off = 0;
  while (off + 4 < data.size()) {
    Mp3DecodeRequest rq;
    rq.input = data.data() + off;
    rq.input_bytes = static_cast<uint32_t>(data.size() - off);
    rq.output = out.data();
    if (!d->DecodeFrame(&rq)) break;
    off += rq.input_bytes;
    pcm.insert(pcm.end(), out.begin(), out.end());
  }
  return pcm;
}

class MpegWave : public ::testing::Test {
 protected:
  void SetUp() override { MpegAudioInstall(); }
};

TEST_F(MpegWave, Mp3PlaysThroughTheReader) {
  const std::string path = Encode("wave_cbr.mp3", "lame -t --quiet -b 128", Signal("noise", 44100, 2));
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> bytes = ReadFile(path);
  const std::vector<uint8_t> direct = DecodeDirect(bytes);
  DFile f;
  MemoryFile(f, bytes);
  DWave w;
  ASSERT_TRUE(w.Open(f));
  EXPECT_EQ(w.GetKind(), DWave::kMpeg);
  EXPECT_EQ(w.GetFormat().nChannels, 2);
  EXPECT_EQ(w.GetFormat().nSamplesPerSec, 44100u);
  EXPECT_EQ(w.GetFormat().cbSize, 18);
  EXPECT_EQ(w.GetTotalBytes(), bytes.size() / 417 * 4608);
  ASSERT_TRUE(w.BeginDecode());
  const std::vector<uint8_t> pcm = ReadAll(w, 5000);
  ASSERT_EQ(pcm.size(), std::min<size_t>(direct.size(), w.GetTotalBytes()));
  EXPECT_EQ(0, std::memcmp(pcm.data(), direct.data(), pcm.size()));
  // Rewind and skip half a second: the bytes from there.
  w.Rewind();
  w.Skip(0.5f);
  std::vector<uint8_t> part(4000);
  ASSERT_EQ(w.Read(part.data(), 4000), 4000);
  EXPECT_EQ(0, std::memcmp(part.data(), direct.data() + 88200, 4000));
}

TEST_F(MpegWave, OggPlaysThroughTheReader) {
  const std::string wav = Signal("long", 22050, 1);
  const std::string out = VectorDir() + "/wave_long.ogg";
  if (!Exists(out)) {
    ASSERT_TRUE(Shell("oggenc -Q -q 3 " + wav + " -o " + out));
  }
  const std::vector<uint8_t> bytes = ReadFile(out);
  DFile f;
  MemoryFile(f, bytes);
  DWave w;
  ASSERT_TRUE(w.Open(f));
  EXPECT_EQ(w.GetKind(), DWave::kOgg);
  ASSERT_TRUE(w.BeginDecode());
  const std::vector<uint8_t> pcm = ReadAll(w, 7000);
  EXPECT_EQ(pcm.size(), w.GetTotalBytes());
  w.Rewind();
  w.Skip(1.5f);  // 33075 samples
  std::vector<uint8_t> part(1000);
  ASSERT_EQ(w.Read(part.data(), 1000), 1000);
  EXPECT_EQ(0, std::memcmp(part.data(), pcm.data() + 33075 * 2, 1000));
}

// A RIFF WAVE file whose data chunk holds MPEG audio (format tag 0x0055 or 0x0050).
std::vector<uint8_t> WrapInWav(const std::vector<uint8_t>& mpeg, uint16_t tag, uint16_t channels,
                               uint32_t rate) {
  std::vector<uint8_t> w;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    w.push_back(static_cast<uint8_t>(v));
    w.push_back(static_cast<uint8_t>(v >> 8));
  };
  w.insert(w.end(), {'R', 'I', 'F', 'F'});
  u32(static_cast<uint32_t>(4 + 8 + 30 + 8 + mpeg.size()));
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  u32(30);
  u16(tag), u16(channels), u32(rate), u32(16000), u16(1), u16(0), u16(12);
  u16(1), u32(2), u16(417), u16(1), u16(1393);  // the MPEGLAYER3 extra fields
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  u32(static_cast<uint32_t>(mpeg.size()));
  w.insert(w.end(), mpeg.begin(), mpeg.end());
  return w;
}

TEST_F(MpegWave, MpegInWavDecodesLikeTheBareFile) {
  struct Case {
    std::string path;
    uint16_t tag;
  } cases[] = {
      {Encode("wave_acm.mp3", "lame -t --quiet -b 128", Signal("clicks", 44100, 2)), 0x0055},
      {Encode("wave_acm.mp2", "twolame --quiet -b 192", Signal("clicks", 44100, 2)), 0x0050},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_FALSE(c.path.empty());
    const std::vector<uint8_t> mpeg = ReadFile(c.path);
    const std::vector<uint8_t> direct = DecodeDirect(mpeg);
    DFile f;
    MemoryFile(f, WrapInWav(mpeg, c.tag, 2, 44100));
    DWave w;
    ASSERT_TRUE(w.Open(f));
    EXPECT_EQ(w.GetKind(), DWave::kWavAcm);
    EXPECT_EQ(w.GetFormat().nChannels, 2);
    ASSERT_TRUE(w.BeginDecode());
    const std::vector<uint8_t> pcm = ReadAll(w, 3000);
    ASSERT_GE(pcm.size(), direct.size() * 9 / 10);
    const size_t n = std::min(pcm.size(), direct.size());
    EXPECT_EQ(0, std::memcmp(pcm.data(), direct.data(), n));
  }
}

TEST_F(MpegWave, DamagedFilesOpenOrFailCleanly) {
  const std::string path = Encode("wave_cbr.mp3", "lame -t --quiet -b 128", Signal("noise", 44100, 2));
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> good = ReadFile(path);
  for (int variant = 0; variant < 5; ++variant) {
    std::vector<uint8_t> bytes = good;
    if (variant == 0) bytes.resize(300);
    if (variant == 1)
      for (size_t i = 10; i < bytes.size(); i += 13) bytes[i] ^= 0xA5;
    if (variant == 2)
      bytes = WrapInWav(std::vector<uint8_t>(good.begin(), good.begin() + 2000), 0x55, 2, 44100);
    if (variant == 3) bytes = WrapInWav(std::vector<uint8_t>(5000, 0x33), 0x55, 1, 22050);
    // The header promises 22050 Hz mono, the data holds 44100 Hz stereo frames (4 times the PCM).
    if (variant == 4) bytes = WrapInWav(good, 0x55, 1, 22050);
    DFile f;
    MemoryFile(f, bytes);
    DWave w;
    if (!w.Open(f)) continue;
    if (!w.BeginDecode()) continue;
    ReadAll(w, 4096);
  }
}

// A sound loaded from an MP3 and from an Ogg file holds the reader's PCM in its buffer; the
// device installs the decoders itself.
TEST(MpegSound, Mp3AndOggLoadAsSounds) {
  DWaveSetDecoders(nullptr, nullptr);
  orvane::audio::UseManualSink(44100);
  Dsnd dsnd;
  SoundHandle::UseDevice(&dsnd);
  ASSERT_TRUE(dsnd.Create(nullptr, 0));
  const std::string ogg = VectorDir() + "/sound.ogg";
  if (!Exists(ogg)) {
    ASSERT_TRUE(Shell("oggenc -Q -q 3 " + Signal("tone", 22050, 1) + " -o " + ogg));
  }
  const std::string files[] = {Encode("sound.mp3", "lame -t --quiet -b 96", Signal("tone", 44100, 2)), ogg};
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> bytes = ReadFile(path);
    std::vector<uint8_t> want;
    {
      DFile f;
      MemoryFile(f, bytes);
      DWave w;
      ASSERT_TRUE(w.Open(f));
      ASSERT_TRUE(w.BeginDecode());
      want = ReadAll(w, 8192);
    }
    DFile f;
    MemoryFile(f, bytes);
    SoundHandle h;
    ASSERT_TRUE(h.Load(DString(path.c_str()), f, 1));
    IDirectSoundBuffer* b = h.GetVoices()->GetBuffer(0);
    void* p;
    DWORD n;
    ASSERT_EQ(b->Lock(0, 0, &p, &n, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    ASSERT_GE(n, want.size());
    EXPECT_EQ(0, std::memcmp(p, want.data(), want.size()));
    b->Unlock(p, n, nullptr, 0);
  }
  dsnd.Release();
  SoundHandle::UseDevice(nullptr);
  orvane::audio::StopSink();
}

// MP3 and Ogg Vorbis files played as streams: the mixer's output at the files' own rate is the
// reader's PCM, followed by silence when the list ends.
TEST(MpegSound, Mp3AndOggPlayAsStreams) {
  DWaveSetDecoders(nullptr, nullptr);
  orvane::audio::UseManualSink(22050);
  Dsnd dsnd;
  SoundHandle::UseDevice(&dsnd);
  ASSERT_TRUE(dsnd.Create(nullptr, 0));
  const std::string ogg = VectorDir() + "/stream.ogg";
  if (!Exists(ogg)) {
    ASSERT_TRUE(Shell("oggenc -Q -q 3 " + Signal("noise", 22050, 2) + " -o " + ogg));
  }
  const std::string files[] = {Encode("stream22.mp3", "lame -t --quiet -b 64", Signal("noise", 22050, 2)),
                               ogg};
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> bytes = ReadFile(path);
    std::vector<uint8_t> want;
    {
      DFile f;
      MemoryFile(f, bytes);
      DWave w;
      ASSERT_TRUE(w.Open(f));
      ASSERT_TRUE(w.BeginDecode());
      want = ReadAll(w, 8192);
    }
    DFile f;
    MemoryFile(f, bytes);
    StreamHandle s;
    ASSERT_TRUE(s.AddToList(f, 0, 0.0f, 0));
    s.Play();
    const unsigned frames = static_cast<unsigned>(want.size() / 4) + 4000;
    std::vector<int16_t> got;
    orvane::audio::StepManualSink(frames, &got);
    s.Stop();
    want.resize(frames * 4, 0);
    ASSERT_EQ(got.size() * 2, want.size());
    EXPECT_EQ(0, std::memcmp(got.data(), want.data(), want.size()));
  }
  dsnd.Release();
  SoundHandle::UseDevice(nullptr);
  orvane::audio::StopSink();
}

}  // namespace
