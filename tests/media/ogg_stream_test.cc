// Tests of OggStream: output equal to libvorbisfile's own read loop, format and totals, rewind,
// skip, archive members and damaged files.
#include "media/mpeg/ogg_stream.h"

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "tests/media/mpeg_vectors.h"

namespace {

using namespace mpeg_vectors;

// An Ogg Vorbis file of about one second (oggenc, on libvorbisenc), made once per build dir.
std::string OggFile(int rate, int channels, const std::string& kind = "noise") {
  const std::string out =
      VectorDir() + "/ogg_" + kind + "_" + std::to_string(rate) + "_" + std::to_string(channels) + ".ogg";
  if (Exists(out)) return out;
  const std::string wav = Signal(kind, rate, channels);
  const std::string tmp = out + "." + std::to_string(getpid()) + ".tmp";
  if (wav.empty() || !Shell("oggenc -Q -q 3 " + wav + " -o " + tmp)) return "";
  std::rename(tmp.c_str(), out.c_str());
  return out;
}

// libvorbisfile's own loop over the whole file: 16-bit little-endian signed PCM.
std::vector<uint8_t> RawDecode(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> pcm;
  OggVorbis_File vf;
  if (ov_open_callbacks(nullptr, &vf, reinterpret_cast<const char*>(bytes.data()),
                        static_cast<long>(bytes.size()), OV_CALLBACKS_STREAMONLY) != 0)
    return pcm;
  char buf[4096];
  int section = 0;
  for (;;) {
    const long r = ov_read(&vf, buf, sizeof(buf), 0, 2, 1, &section);
    if (r == OV_HOLE) continue;
    if (r <= 0) break;
    pcm.insert(pcm.end(), buf, buf + r);
  }
  ov_clear(&vf);
  return pcm;
}

void MemoryFile(DFile& f, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(f.OpenMemory(static_cast<uint32_t>(bytes.size()), DFile::kRead | DFile::kWrite));
  ASSERT_EQ(f.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), int64_t(bytes.size()));
  ASSERT_TRUE(f.Seek(DFile::kSeekStart, 0));
}

// Everything the stream gives, in reads of the given size.
std::vector<uint8_t> ReadAll(OggStream& s, uint32_t chunk) {
  std::vector<uint8_t> pcm, buf(chunk);
  for (;;) {
    const int32_t r = s.Read(buf.data(), chunk);
    EXPECT_GE(r, 0);
    if (r <= 0) break;
    pcm.insert(pcm.end(), buf.begin(), buf.begin() + r);
  }
  return pcm;
}

TEST(OggStream, MatchesLibvorbisfileAndRewinds) {
  for (int channels : {1, 2}) {
    const int rate = channels == 1 ? 22050 : 44100;
    const std::string path = OggFile(rate, channels);
    ASSERT_FALSE(path.empty()) << "oggenc installed?";
    const std::vector<uint8_t> bytes = ReadFile(path);
    const std::vector<uint8_t> raw = RawDecode(bytes);
    ASSERT_GT(raw.size(), 10000u);
    DFile src;
    MemoryFile(src, bytes);
    OggStream s;
    ASSERT_TRUE(s.Open(src));
    EXPECT_FALSE(s.Open(src));
    const StreamPcmFormat& f = s.Format();
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nChannels, channels);
    EXPECT_EQ(f.nSamplesPerSec, uint32_t(rate));
    EXPECT_EQ(f.nBlockAlign, 2 * channels);
    EXPECT_EQ(f.nAvgBytesPerSec, uint32_t(2 * channels * rate));
    EXPECT_EQ(f.cbSize, 18);
    EXPECT_EQ(s.GetTotalPcmBytes(), raw.size());
    // Reads of odd sizes, larger and smaller than the stream's buffer.
    EXPECT_EQ(ReadAll(s, 10007), raw);
    uint8_t b[4];
    EXPECT_EQ(s.Read(b, 4), 0);
    EXPECT_EQ(s.Read(b, 0), 0);
    s.Rewind();
    EXPECT_EQ(ReadAll(s, 333), raw);
    EXPECT_TRUE(s.Close());
    EXPECT_FALSE(s.Close());
    EXPECT_EQ(s.Read(b, 4), -1);
  }
}

TEST(OggStream, SkipMovesBySamples) {
  const std::string path = OggFile(22050, 1, "long");
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> bytes = ReadFile(path);
  const std::vector<uint8_t> raw = RawDecode(bytes);
  DFile src;
  MemoryFile(src, bytes);
  OggStream s;
  ASSERT_TRUE(s.Open(src));
  s.Skip(1.5f);  // 33075 samples
  std::vector<uint8_t> got(2000);
  ASSERT_EQ(s.Read(got.data(), 2000), 2000);
  EXPECT_EQ(0, std::memcmp(got.data(), raw.data() + 33075 * 2, 2000));
  // Skip moves from the current sample; what was decoded before is handed out first.
  s.Rewind();
  ASSERT_EQ(s.Read(got.data(), 10), 10);
  s.Skip(0.25f);
  ASSERT_EQ(s.Read(got.data(), 2000), 2000);
  EXPECT_EQ(0, std::memcmp(got.data(), raw.data() + 10, 10));
  s.Close();
}

// A member of a larger file (as in the data-file archive): the stream stays inside its view.
TEST(OggStream, PlaysFromAnArchiveMember) {
  const std::string path = OggFile(44100, 2);
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> ogg = ReadFile(path);
  std::vector<uint8_t> archive(3000 + ogg.size() + 5000, 0x5A);
  std::memcpy(archive.data() + 3000, ogg.data(), ogg.size());
  DFile whole, member;
  MemoryFile(whole, archive);
  ASSERT_TRUE(member.OpenView(whole, 3000, static_cast<uint32_t>(ogg.size())));
  OggStream s;
  ASSERT_TRUE(s.Open(member));
  EXPECT_EQ(ReadAll(s, 4096), RawDecode(ogg));
  s.Close();
}

TEST(OggStream, RefusesOtherFilesAndSurvivesDamage) {
  DFile junk;
  MemoryFile(junk, std::vector<uint8_t>(5000, 0x33));
  OggStream s;
  EXPECT_FALSE(s.Open(junk));
  EXPECT_FALSE(s.IsOpen());
  const std::string path = OggFile(44100, 2);
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> good = ReadFile(path);
  for (int variant = 0; variant < 4; ++variant) {
    std::vector<uint8_t> bytes = good;
    if (variant == 0) bytes.resize(bytes.size() / 2);  // truncated page
    if (variant == 1)
      for (size_t i = 6000; i < bytes.size(); i += 501) bytes[i] ^= 0xFF;
    if (variant == 2) std::memset(bytes.data() + bytes.size() / 3, 0, 4000);  // a hole
    if (variant == 3) bytes.resize(200);                                      // headers cut
    DFile src;
    MemoryFile(src, bytes);
    OggStream t;
    if (!t.Open(src)) continue;
    const std::vector<uint8_t> pcm = ReadAll(t, 4096);
    EXPECT_LE(pcm.size(), good.size() * 64) << variant;
    t.Close();
  }
}

}  // namespace
