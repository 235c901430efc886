// Tests of Mp3Stream: finding the audio in a file, the description from the first frame, and
// frame decoding driven the way the audio file reader drives it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/dfile.h"
#include "media/mpeg/mp3_stream.h"
#include "tests/media/mpeg_vectors.h"

namespace {

using namespace mpeg_vectors;

// A memory file holding the bytes, positioned at its start.
void MemoryFile(DFile& f, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(f.OpenMemory(static_cast<uint32_t>(bytes.size()), DFile::kRead | DFile::kWrite));
  ASSERT_EQ(f.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), int64_t(bytes.size()));
  ASSERT_TRUE(f.Seek(DFile::kSeekStart, 0));
}

// Where FindAudio puts the view's start (the view ends before an ID3v1 tag), or -1 when it
// finds no audio.
int64_t AudioStart(const std::vector<uint8_t>& bytes, int64_t* view_size = nullptr) {
  DFile src, view;
  MemoryFile(src, bytes);
  if (!Mp3Stream::FindAudio(src, view)) return -1;
  const int64_t size = view.GetSize();
  if (view_size) *view_size = size;
  uint8_t b[2] = {};
  EXPECT_EQ(view.Read(b, 2), 2);
  EXPECT_EQ(b[0], 0xFF);
  const bool tag = bytes.size() >= 128 && std::memcmp(bytes.data() + bytes.size() - 128, "TAG", 3) == 0;
  return static_cast<int64_t>(bytes.size()) - (tag ? 128 : 0) - size;
}

TEST(Mp3StreamFind, WhereTheAudioStarts) {
  std::vector<uint8_t> plain(4000, 0x11);
  plain[700] = 0xFF, plain[701] = 0xFB;
  EXPECT_EQ(AudioStart(plain), 700);
  // A sync across the edge of the first 1024-byte block is seen.
  for (int at : {1021, 1022, 1023}) {
    std::vector<uint8_t> edge(4000, 0x11);
    edge[at] = 0xFF, edge[at + 1] = 0xE3;
    EXPECT_EQ(AudioStart(edge), at) << at;
  }
  // A leading ID3v2 tag whose text holds FF Ex is stepped over (size 0x200 syncsafe, footer).
  std::vector<uint8_t> tagged(4000, 0x11);
  std::memcpy(tagged.data(), "ID3\x04\x00\x10\x00\x00\x04\x00", 10);
  tagged[40] = 0xFF, tagged[41] = 0xE7;
  tagged[10 + 0x200 + 10] = 0xFF, tagged[10 + 0x200 + 11] = 0xFB;
  EXPECT_EQ(AudioStart(tagged), 10 + 0x200 + 10);
  // A tag that claims more than the file holds is not taken as one.
  std::vector<uint8_t> liar = tagged;
  liar[6] = 0x7F;
  EXPECT_EQ(AudioStart(liar), 40);
  // No sync at all.
  EXPECT_EQ(AudioStart(std::vector<uint8_t>(3000, 0x22)), -1);
}

TEST(Mp3StreamFind, Id3v1TagIsCut) {
  std::vector<uint8_t> f(2000, 0x11);
  f[100] = 0xFF, f[101] = 0xFB;
  std::memcpy(f.data() + 2000 - 128, "TAG", 3);
  int64_t size = 0;
  EXPECT_EQ(AudioStart(f, &size), 100);
  EXPECT_EQ(size, 2000 - 128 - 100);
  // The only sync lies inside the ID3v1 tag: no audio.
  std::vector<uint8_t> g(2000, 0x11);
  std::memcpy(g.data() + 2000 - 128, "TAG", 3);
  g[1950] = 0xFF, g[1951] = 0xFB;
  EXPECT_EQ(AudioStart(g), -1);
  // Files under 128 bytes are not searched for the tag.
  std::vector<uint8_t> small(100, 0x11);
  std::memcpy(small.data(), "TAG", 3);
  small[50] = 0xFF, small[51] = 0xFB;
  EXPECT_EQ(AudioStart(small, &size), 50);
  EXPECT_EQ(size, 50);
}

std::vector<uint8_t> Header(uint8_t b1, uint8_t b2, uint8_t b3) {
  std::vector<uint8_t> v(156, 0);
  v[0] = 0xFF, v[1] = b1, v[2] = b2, v[3] = b3;
  return v;
}

TEST(Mp3StreamDescribe, FirstFrame) {
  Mp3Stream s;
  EXPECT_FALSE(s.Close());
  ASSERT_TRUE(s.Create());
  EXPECT_FALSE(s.Create());
  // CBR MPEG-1 layer III, 128 kbit/s, 44100 Hz stereo, over a view of 417 x 10 + 100 bytes.
  std::vector<uint8_t> file(417 * 10 + 100, 0);
  DFile view;
  MemoryFile(view, file);
  auto h = Header(0xFB, 0x90, 0x00);
  ASSERT_TRUE(s.ReadFirstFrame(h.data(), &view));
  EXPECT_EQ(s.GetMaxFrameBytes(), 418u);
  EXPECT_EQ(s.GetPcmBytesPerFrame(), 4608u);
  EXPECT_EQ(s.GetTotalPcmBytes(), 10u * 4608);
  uint8_t fmt[18];
  s.GetWaveFormat(fmt);
  const StreamPcmFormat& f = s.Format();
  EXPECT_EQ(std::memcmp(fmt, &f, 18), 0);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.cbSize, 18);
  // Without a view nothing is measured.
  ASSERT_TRUE(s.ReadFirstFrame(h.data(), nullptr));
  EXPECT_EQ(s.GetTotalPcmBytes(), 0u);
  EXPECT_TRUE(s.Close());
  EXPECT_FALSE(s.Close());
  EXPECT_FALSE(s.ReadFirstFrame(h.data(), nullptr));
}

TEST(Mp3StreamDescribe, VbrTotalsAreBoundedByTheFile) {
  Mp3Stream s;
  ASSERT_TRUE(s.Create());
  std::vector<uint8_t> file(40000, 0);
  DFile view;
  MemoryFile(view, file);
  auto h = Header(0xFB, 0x90, 0x00);
  std::memcpy(h.data() + 36, "Xing", 4);
  h[43] = 1;     // flags: frames
  h[46] = 0x01;  // 300 frames
  h[47] = 0x2C;
  ASSERT_TRUE(s.ReadFirstFrame(h.data(), &view));
  EXPECT_EQ(s.GetTotalPcmBytes(), 300u * 4608);
  EXPECT_EQ(s.GetMaxFrameBytes(), 1045u);
  // A lying count (0xFFFFFFFF frames) is capped at what 40000 bytes can hold at 104 bytes a frame.
  h[44] = h[45] = h[46] = h[47] = 0xFF;
  ASSERT_TRUE(s.ReadFirstFrame(h.data(), &view));
  EXPECT_EQ(s.GetTotalPcmBytes(), (40000u / 104 + 1) * 4608);
}

// Decodes a whole file the way the audio file reader does: a source buffer of at least 8192
// bytes refilled behind the held bytes when a frame does not decode.
std::vector<uint8_t> DecodeLikeTheReader(Mp3Stream& s, DFile& view) {
  std::vector<uint8_t> pcm;
  const uint32_t size = s.GetMaxFrameBytes() > 8192 ? s.GetMaxFrameBytes() : 8192;
  std::vector<uint8_t> src(size), out(s.GetPcmBytesPerFrame());
  uint32_t held = 0, pos = 0;
  view.Seek(DFile::kSeekStart, 0);
  for (;;) {
    uint32_t used = s.DecodeFrame(out.data(), src.data() + pos, held);
    if (!used) {
      std::memmove(src.data(), src.data() + pos, held);
      pos = 0;
      const int64_t got = view.Read(src.data() + held, size - held);
      if (got <= 0) break;
      held += static_cast<uint32_t>(got);
      used = s.DecodeFrame(out.data(), src.data(), held);
      if (!used) break;
    }
    pos += used;
    held -= used;
    pcm.insert(pcm.end(), out.begin(), out.end());
  }
  return pcm;
}

TEST(Mp3StreamDecode, WholeFileAndRestart) {
  const std::string path = Encode("stream_vbr.mp3", "lame --quiet -V 4", Signal("noise", 44100, 2));
  ASSERT_FALSE(path.empty());
  std::vector<uint8_t> bytes = ReadFile(path);
  // An ID3v1 tag behind the audio.
  std::vector<uint8_t> tag(128, 'x');
  std::memcpy(tag.data(), "TAG", 3);
  bytes.insert(bytes.end(), tag.begin(), tag.end());
  DFile src, view;
  MemoryFile(src, bytes);
  ASSERT_TRUE(Mp3Stream::FindAudio(src, view));
  uint8_t first[156];
  ASSERT_EQ(view.Read(first, 156), 156);
  Mp3Stream s;
  ASSERT_TRUE(s.Create());
  ASSERT_TRUE(s.ReadFirstFrame(first, &view));
  // The Info frame carries the frame count: the total is known, and its frame decodes too.
  EXPECT_GT(s.GetTotalPcmBytes(), 0u);
  const std::vector<uint8_t> a = DecodeLikeTheReader(s, view);
  EXPECT_GE(a.size(), s.GetTotalPcmBytes());
  EXPECT_LE(a.size(), s.GetTotalPcmBytes() + 2 * s.GetPcmBytesPerFrame());
  s.Restart();
  const std::vector<uint8_t> b = DecodeLikeTheReader(s, view);
  EXPECT_EQ(a, b);
}

TEST(Mp3StreamDecode, DamagedFilesEndCleanly) {
  const std::string path = Encode("stream_cbr.mp3", "lame -t --quiet -b 96", Signal("clicks", 32000, 2));
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> good = ReadFile(path);
  for (int variant = 0; variant < 6; ++variant) {
    std::vector<uint8_t> bytes = good;
    switch (variant) {
      case 0:
        bytes.resize(bytes.size() / 2 + 7);
        break;  // cut inside a frame
      case 1:
        for (size_t i = 40; i < bytes.size(); i += 97) bytes[i] ^= 0x5A;
        break;
      case 2:
        bytes[5] = 0xFF, bytes[4] = 0xFF;
        break;  // main_data_begin 511
      case 3:
        std::memset(bytes.data() + 6, 0xFF, 32);
        break;  // side information
      case 4:
        bytes[2000] = 0x00;
        break;  // a later sync broken
      default:
        for (size_t i = 4; i < bytes.size(); i += 3) bytes[i] = static_cast<uint8_t>(i * 7);
    }
    DFile src, view;
    MemoryFile(src, bytes);
    if (!Mp3Stream::FindAudio(src, view)) continue;
    uint8_t first[156];
    if (view.Read(first, 156) != 156) continue;
    Mp3Stream s;
    ASSERT_TRUE(s.Create());
    if (!s.ReadFirstFrame(first, &view)) continue;
    const std::vector<uint8_t> pcm = DecodeLikeTheReader(s, view);
    EXPECT_EQ(pcm.size() % s.GetPcmBytesPerFrame(), 0u) << variant;
  }
}

}  // namespace
