// DWave: RIFF WAVE and AVI parsing, ACM codecs against sox, skips, and damaged files.
#include "media/dwave.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/media/fake_decoders.h"
#include "tests/media/riff_builder.h"
#include "tests/support/scratch_dir.h"

namespace {

using namespace orvane_test;

// The debug log reaches stderr only when this is set before its first use.
const bool kDebugOutput = (setenv("ORVANE_DEBUG", "1", 1), true);

// Everything the reader hands out, read in pieces of `piece` bytes.
std::string ReadAll(DWave& w, uint32_t piece = 1000) {
  std::string out;
  std::vector<char> buf(piece);
  EXPECT_TRUE(w.BeginDecode());
  for (;;) {
    int32_t n = w.Read(buf.data(), piece);
    if (n <= 0) {
      EXPECT_EQ(n, 0);
      break;
    }
    out.append(buf.data(), static_cast<size_t>(n));
  }
  w.EndDecode();
  return out;
}

TEST(DWaveTest, WaveLayoutsOpen) {
  std::string pcm = Pcm16({1, 2, 3, 4, -5, -6});
  struct Case {
    const char* what;
    std::string file;
    bool opens;
  } cases[] = {
      {"18-byte fmt", Wav(Fmt(1, 2, 22050, 16), pcm), true},
      {"16-byte fmt", Wav(Fmt(1, 2, 22050, 16, 0, "", true), pcm), true},
      {"LIST between", Wav(Fmt(1, 2, 22050, 16), pcm, List("INFO", Chunk("ISFT", "abc"))), true},
      {"odd chunk between", Wav(Fmt(1, 2, 22050, 16), pcm, Chunk("junk", "xyz")), true},
      {"no data", Riff("WAVE", Chunk("fmt ", Fmt(1, 2, 22050, 16))), false},
      {"no fmt", Riff("WAVE", Chunk("data", pcm)), false},
      {"fmt of 14 bytes",
       Riff("WAVE", Chunk("fmt ", Fmt(1, 2, 22050, 16).substr(0, 14)) + Chunk("data", pcm)), false},
      {"block align 0", Wav(Fmt(1, 2, 22050, 16, 0).replace(12, 2, Le16(0)), pcm), false},
      {"3 channels", Wav(Fmt(1, 3, 22050, 16), pcm), false},
      {"24 bits", Wav(Fmt(1, 1, 22050, 24), pcm), false},
      {"rate 50", Wav(Fmt(1, 1, 50, 16), pcm), false},
      {"11 bytes", std::string("RIFF\0\0\0\0WAV", 11), false},
      {"unknown tag", Wav(Fmt(0x1234, 1, 8000, 4, 36), pcm), false},
      {"RIFF of another form", Riff("ABCD", Chunk("data", pcm)), false},
      {"fmt claims 1 MiB", Riff("WAVE", "fmt " + Le32(1 << 20) + Fmt(1, 2, 22050, 16) + Chunk("data", pcm)),
       false},
      {"fmt claims more than the file", Riff("WAVE", "fmt " + Le32(40000) + Fmt(1, 2, 22050, 16)), false},
      {"data before fmt", Riff("WAVE", Chunk("data", pcm) + Chunk("fmt ", Fmt(1, 2, 22050, 16))), true},
  };
  for (const Case& c : cases) {
    DFile f;
    ASSERT_TRUE(MemoryFile(f, c.file)) << c.what;
    DWave w;
    EXPECT_EQ(w.Open(f), c.opens) << c.what;
    if (c.opens) {
      EXPECT_EQ(w.GetKind(), DWave::kWavPcm);
      EXPECT_EQ(ReadAll(w, 5), pcm) << c.what;
    }
  }
}

TEST(DWaveTest, EightBitMonoKeepsItsFormatAndHugeDataIsCapped) {
  std::string data = "\x80\x81\x7f\x00\xff";
  std::string file = Wav(Fmt(1, 1, 11025, 8), data);
  file.replace(file.size() - data.size() - 1 - 4, 4, Le32(0x7FFFFFF0));  // data claims 2 GiB
  DFile f;
  ASSERT_TRUE(MemoryFile(f, file));
  DWave w;
  ASSERT_TRUE(w.Open(f));
  EXPECT_EQ(w.GetFormat().nChannels, 1);
  EXPECT_EQ(w.GetFormat().wBitsPerSample, 8);
  EXPECT_EQ(w.GetTotalBytes(), data.size() + 1);  // the pad byte is the file's last byte
  char b[4];
  EXPECT_EQ(w.Read(b, 4), -1) << "not decoding";
  EXPECT_TRUE(w.BeginDecode());
  EXPECT_FALSE(w.BeginDecode());
}

TEST(DWaveTest, SkipRoundsInFloatThenFloorsToBlocks) {
  std::string pcm(44100 * 4 * 2, '\1');  // two seconds, 44.1 kHz 16-bit stereo
  DFile f;
  ASSERT_TRUE(MemoryFile(f, Wav(Fmt(1, 2, 44100, 16), pcm)));
  DWave w;
  ASSERT_TRUE(w.Open(f));
  struct Case {
    float seconds;
    size_t left;
  } cases[] = {{1.5f, pcm.size() - 264600}, {0.0f, pcm.size()}, {-3.0f, pcm.size()},
               {NAN, pcm.size()},           {1e30f, 0},         {10.0f, 0},
               {0.00001f, pcm.size() - 0}};
  for (const Case& c : cases) {
    w.Rewind();
    ASSERT_TRUE(w.BeginDecode());
    w.Skip(c.seconds);
    size_t left = 0;
    std::vector<char> buf(65536);
    int32_t n;
    while ((n = w.Read(buf.data(), 65536)) > 0) left += static_cast<size_t>(n);
    EXPECT_EQ(left, c.left) << c.seconds;
    w.EndDecode();
  }
}

// An AVI whose first stream is video and whose audio stream has the given number.
std::string Avi(int audio_stream, const std::string& strf, const std::vector<std::string>& audio) {
  std::string strh_vids = Chunk("strh", "vids" + std::string(52, '\0'));
  std::string strh_auds = Chunk("strh", "auds" + std::string(52, '\0'));
  std::string hdrl = Chunk("avih", std::string(56, '\0'));
  for (int i = 0; i < audio_stream; ++i)
    hdrl += List("strl", strh_vids + Chunk("strf", std::string(40, '\0')));
  hdrl += List("strl", strh_auds + Chunk("strf", strf));
  char id[16];
  std::snprintf(id, sizeof(id), "%02dwb", audio_stream);
  std::string movi;
  for (const std::string& a : audio) movi += Chunk("00dc", "vid") + Chunk(id, a);
  return Riff("AVI ", List("hdrl", hdrl) + Chunk("JUNK", "x") + List("movi", movi) + Chunk("idx1", "1234"));
}

TEST(DWaveTest, AviAudioStreams) {
  std::string fmt = Fmt(1, 1, 8000, 8);
  struct Case {
    int stream;
    bool opens;
  } cases[] = {{1, true}, {10, true}, {0, true}};
  for (const Case& c : cases) {
    DFile f;
    ASSERT_TRUE(MemoryFile(f, Avi(c.stream, fmt, {"abc", "de", "fghij"})));
    DWave w;
    ASSERT_EQ(w.Open(f), c.opens) << c.stream;
    EXPECT_EQ(w.GetKind(), DWave::kAviPcm);
    EXPECT_EQ(w.GetTotalBytes(), 10u);
    EXPECT_EQ(ReadAll(w, 3), "abcdefghij") << c.stream;
    w.Rewind();
    ASSERT_TRUE(w.BeginDecode());
    w.Skip(4.0f / 8000);
    char b[16];
    EXPECT_EQ(w.Read(b, 16), 6);
    EXPECT_EQ(std::string(b, 6), "efghij");
  }
  std::string no_audio =
      Riff("AVI ", List("hdrl", List("strl", Chunk("strh", "vids" + std::string(52, '\0')))) +
                       List("movi", Chunk("00dc", "x")));
  DFile f;
  ASSERT_TRUE(MemoryFile(f, no_audio));
  DWave w;
  EXPECT_FALSE(w.Open(f));
}

// ---- ACM codecs: our decode equals sox's decode of a file that sox made.
bool HaveSox() {
  return std::system("sox --version >/dev/null 2>&1") == 0;
}

TEST(DWaveTest, AcmCodecsMatchSox) {
  if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
  ScratchDir dir("orvane_dwave_");
  struct Case {
    const char* encoding;
    int channels;
  } cases[] = {{"ms-adpcm", 1},  {"ms-adpcm", 2}, {"ima-adpcm", 1},
               {"ima-adpcm", 2}, {"a-law", 1},    {"u-law", 2}};
  for (const Case& c : cases) {
    std::string wav = dir.Path("t.wav"), raw = dir.Path("t.raw");
    std::string make = "sox -n -r 11025 -c " + std::to_string(c.channels) + " -e " + c.encoding + " " + wav +
                       " synth 0.7 sine 300:3000 sine 440 gain -3 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    std::string decode = "sox " + wav + " -t raw -e signed -b 16 -L " + raw + " 2>/dev/null";
    ASSERT_EQ(std::system(decode.c_str()), 0);
    std::string expect = ScratchDir::ReadPath(raw);
    DFile f;
    ASSERT_TRUE(f.Open(DString(wav.c_str()), DFile::kRead));
    DWave w;
    ASSERT_TRUE(w.Open(f)) << c.encoding;
    EXPECT_EQ(w.GetKind(), DWave::kWavAcm);
    EXPECT_EQ(w.GetFormat().wBitsPerSample, 16);
    EXPECT_EQ(w.GetFormat().nChannels, c.channels);
    std::string got = ReadAll(w, 777);
    // Block codecs end on a whole block: at most one block's padding more than sox gives.
    ASSERT_GE(got.size(), expect.size()) << c.encoding << " " << c.channels;
    EXPECT_LT(got.size(), expect.size() + 4096) << c.encoding;
    EXPECT_TRUE(got.compare(0, expect.size(), expect) == 0) << c.encoding << " " << c.channels;
    // The same audio as the stream of an AVI, its data cut into chunks at a block boundary.
    std::string bytes = ScratchDir::ReadPath(wav);
    auto chunk = [&](const char* id) {
      size_t at = 12;
      while (at + 8 <= bytes.size()) {
        uint32_t size = static_cast<uint8_t>(bytes[at + 4]) | static_cast<uint8_t>(bytes[at + 5]) << 8 |
                        static_cast<uint8_t>(bytes[at + 6]) << 16 |
                        static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 7])) << 24;
        if (bytes.compare(at, 4, id) == 0) return bytes.substr(at + 8, size);
        at += 8 + size + (size & 1);
      }
      return std::string();
    };
    std::string fmt = chunk("fmt "), data = chunk("data");
    size_t align = static_cast<uint8_t>(fmt[12]) | static_cast<uint8_t>(fmt[13]) << 8;
    size_t cut = (data.size() / align / 2) * align;
    DFile avi;
    ASSERT_TRUE(MemoryFile(avi, Avi(1, fmt, {data.substr(0, cut), data.substr(cut)})));
    DWave a;
    ASSERT_TRUE(a.Open(avi)) << c.encoding;
    EXPECT_EQ(a.GetKind(), DWave::kAviAcm);
    EXPECT_EQ(ReadAll(a, 333), got) << c.encoding << " in AVI";
  }
}

TEST(DWaveTest, DamagedAdpcmHeadersFailToOpen) {
  auto ms_extra = [](uint16_t spb, uint16_t ncoef, int coef_bytes) {
    return Le16(spb) + Le16(ncoef) + std::string(static_cast<size_t>(coef_bytes), '\0');
  };
  std::string data(512, '\x11');
  struct Case {
    const char* what;
    std::string fmt;
    bool opens;
  } cases[] = {
      {"ms good", Fmt(2, 1, 8000, 4, 256, ms_extra(500, 7, 28)), true},
      {"ms coefficients past cbSize", Fmt(2, 1, 8000, 4, 256, ms_extra(500, 70, 28)), false},
      {"ms samples over the block", Fmt(2, 1, 8000, 4, 256, ms_extra(501, 7, 28)), false},
      {"ms block smaller than its header", Fmt(2, 2, 8000, 4, 13, ms_extra(2, 7, 28)), false},
      {"ms cbSize 0", Fmt(2, 1, 8000, 4, 256), false},
      {"ima good", Fmt(0x11, 1, 8000, 4, 256, Le16(505)), true},
      {"ima samples over the block", Fmt(0x11, 1, 8000, 4, 256, Le16(506)), false},
      {"ima stereo odd block", Fmt(0x11, 2, 8000, 4, 260, Le16(2)), false},
      {"alaw block align 2 mono", Fmt(6, 1, 8000, 8, 2), false},
  };
  for (const Case& c : cases) {
    DFile f;
    ASSERT_TRUE(MemoryFile(f, Wav(c.fmt, data)));
    DWave w;
    EXPECT_EQ(w.Open(f), c.opens) << c.what;
    if (c.opens) {
      EXPECT_GT(ReadAll(w).size(), 0u);
    }
  }
  // A tag that no driver takes fails with the reader's log line, naming the file.
  ASSERT_TRUE(kDebugOutput);
  DFile unknown;
  ASSERT_TRUE(MemoryFile(unknown, Wav(Fmt(0x1234, 1, 8000, 4, 36), data), "odd.wav"));
  DWave u;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(u.Open(unknown));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[DWave] Can't init ACM to 'odd.wav'\n");
  // cbSize claiming more than the chunk holds is cut to the chunk.
  std::string fmt = Fmt(2, 1, 8000, 4, 256, ms_extra(500, 7, 28));
  fmt.replace(16, 2, Le16(60000));
  DFile f;
  ASSERT_TRUE(MemoryFile(f, Wav(fmt, data)));
  DWave w;
  EXPECT_TRUE(w.Open(f));
}

// Without decoders the MPEG and Ogg kinds do not open; with them, DWave reads frames through
// its own buffers, rewinds, skips and hands Ogg reads through.
TEST(DWaveTest, MpegAndOggThroughTheirDecoders) {
  std::string mpeg = FakeMpegFile(100);  // 300 bytes, 800 PCM bytes
  std::string ogg = "OggS" + Pcm16({7, 8, 9, 10, 11});
  for (const std::string& bytes : {mpeg, ogg}) {
    DFile f;
    ASSERT_TRUE(MemoryFile(f, bytes));
    DWave w;
    EXPECT_FALSE(w.Open(f));
  }
  DWaveSetDecoders(MakeFakeMpeg, MakeFakeOgg);
  DFile f;
  ASSERT_TRUE(MemoryFile(f, mpeg));
  DWave w;
  ASSERT_TRUE(w.Open(f));
  EXPECT_EQ(w.GetKind(), DWave::kMpeg);
  EXPECT_EQ(w.GetTotalBytes(), 800u);
  std::vector<int16_t> want;
  for (int i = 0; i < 100; ++i) want.insert(want.end(), 4, static_cast<int16_t>((1 + i) * 100));
  EXPECT_EQ(ReadAll(w, 13), Pcm16(want));
  w.Rewind();
  ASSERT_TRUE(w.BeginDecode());
  w.Skip(8.0f / 16000);  // 8 bytes: one frame
  int16_t first = 0;
  EXPECT_EQ(w.Read(&first, 2), 2);
  EXPECT_EQ(first, 200);
  w.EndDecode();
  std::string short_head = FakeMpegFile(10);  // fewer than 156 bytes
  DFile s;
  ASSERT_TRUE(MemoryFile(s, short_head));
  DWave ws;
  EXPECT_FALSE(ws.Open(s));
  DFile o;
  ASSERT_TRUE(MemoryFile(o, ogg));
  DWave wo;
  ASSERT_TRUE(wo.Open(o));
  EXPECT_EQ(wo.GetKind(), DWave::kOgg);
  EXPECT_EQ(ReadAll(wo, 4), Pcm16({7, 8, 9, 10, 11}));
  DWaveSetDecoders(nullptr, nullptr);
}

}  // namespace
