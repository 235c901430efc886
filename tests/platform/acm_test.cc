// The audio compression manager: sizes never promise more than a conversion gives, conversions
// read only whole blocks of their source, and bad handles, headers and tags fail.
#include "platform/acm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A format record with its extra bytes.
std::vector<BYTE> Format(WORD tag, WORD ch, WORD align, WORD bits, const std::vector<WORD>& extra) {
  std::vector<BYTE> b(sizeof(WAVEFORMATEX) + extra.size() * 2);
  WAVEFORMATEX f{tag, ch, 8000, 8000u * align, align, bits, static_cast<WORD>(extra.size() * 2)};
  std::memcpy(b.data(), &f, sizeof(f));
  if (!extra.empty()) std::memcpy(b.data() + sizeof(f), extra.data(), extra.size() * 2);
  return b;
}

std::vector<WORD> MsExtra(WORD spb) {
  std::vector<WORD> e = {spb, 7};
  const short coefs[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
  for (short c : coefs) e.push_back(static_cast<WORD>(c));
  return e;
}

TEST(AcmTest, SizesNeverPromiseMoreThanConvertGives) {
  struct Case {
    const char* what;
    std::vector<BYTE> format;
  } cases[] = {
      {"ms adpcm mono", Format(WAVE_FORMAT_ADPCM, 1, 256, 4, MsExtra(500))},
      {"ms adpcm stereo", Format(WAVE_FORMAT_ADPCM, 2, 512, 4, MsExtra(500))},
      {"ima adpcm stereo", Format(WAVE_FORMAT_IMA_ADPCM, 2, 512, 4, {505})},
      {"a-law", Format(WAVE_FORMAT_ALAW, 2, 2, 8, {})},
      {"u-law", Format(WAVE_FORMAT_MULAW, 1, 1, 8, {})},
  };
  for (auto& c : cases) {
    auto* src = reinterpret_cast<WAVEFORMATEX*>(c.format.data());
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, src, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG), 0u) << c.what;
    EXPECT_EQ(pcm.wBitsPerSample, 16);
    HACMSTREAM s = nullptr;
    ASSERT_EQ(acmStreamOpen(&s, nullptr, src, &pcm, nullptr, 0, 0, 0), 0u) << c.what;
    for (DWORD n : {1u, 2u, 255u, 256u, 511u, 512u, 1000u, 5000u}) {
      DWORD promised = 0;
      MMRESULT r = acmStreamSize(s, n, &promised, ACM_STREAMSIZEF_SOURCE);
      // The source exactly as large as asked, so a read past it shows under the sanitizers.
      std::vector<BYTE> in(n, 0x5A);
      std::vector<BYTE> out(promised + 4096);
      ACMSTREAMHEADER h{};
      h.cbStruct = sizeof(h);
      h.pbSrc = in.data();
      h.cbSrcLength = n;
      h.pbDst = out.data();
      h.cbDstLength = static_cast<DWORD>(out.size());
      ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), 0u);
      ASSERT_EQ(acmStreamConvert(s, &h, 0), 0u);
      if (r == 0) {
        EXPECT_LE(promised, h.cbDstLengthUsed) << c.what << " " << n;
      } else {
        EXPECT_EQ(r, UINT{ACMERR_NOTPOSSIBLE});
        EXPECT_EQ(h.cbDstLengthUsed, 0u) << c.what << " " << n;
      }
      EXPECT_LE(h.cbSrcLengthUsed, n);
      EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), 0u);
      EXPECT_EQ(acmStreamConvert(s, &h, 0), UINT{ACMERR_UNPREPARED});
    }
    EXPECT_EQ(acmStreamClose(s, 0), 0u);
    DWORD size;
    EXPECT_EQ(acmStreamSize(s, 100, &size, 0), UINT{MMSYSERR_INVALHANDLE}) << "closed";
    EXPECT_EQ(acmStreamClose(s, 0), UINT{MMSYSERR_INVALHANDLE});
  }
}

TEST(AcmTest, UnknownTagsAndDamagedHeadersAreRefused) {
  std::vector<std::vector<BYTE>> bad = {
      Format(0x1234, 1, 1, 8, {}),
      Format(WAVE_FORMAT_ADPCM, 1, 256, 4, {500, 7}),      // coefficients missing
      Format(WAVE_FORMAT_ADPCM, 1, 256, 4, MsExtra(501)),  // more samples than the block holds
      Format(WAVE_FORMAT_IMA_ADPCM, 1, 4, 4, {1}),         // no room for codes
      Format(WAVE_FORMAT_IMA_ADPCM, 2, 12, 4, {1}),        // stereo codes not in 8-byte groups
      Format(WAVE_FORMAT_MULAW, 3, 3, 8, {}),
  };
  for (auto& b : bad) {
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    auto* src = reinterpret_cast<WAVEFORMATEX*>(b.data());
    EXPECT_EQ(acmFormatSuggest(nullptr, src, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG),
              UINT{ACMERR_NOTPOSSIBLE})
        << src->wFormatTag;
    HACMSTREAM s = nullptr;
    EXPECT_EQ(acmStreamOpen(&s, nullptr, src, &pcm, nullptr, 0, 0, 0), UINT{ACMERR_NOTPOSSIBLE});
    EXPECT_EQ(s, nullptr);
  }
}

// A driver registered from outside takes its tag.
class FakeDriver : public orvane::acm::Driver {
 public:
  WORD Tag() const override { return 0x4242; }
  bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) override {
    *pcm = WAVEFORMATEX{WAVE_FORMAT_PCM,
                        src.nChannels,
                        src.nSamplesPerSec,
                        src.nSamplesPerSec * 2u * src.nChannels,
                        static_cast<WORD>(2 * src.nChannels),
                        16,
                        0};
    return true;
  }
  std::unique_ptr<orvane::acm::Decoder> Open(const WAVEFORMATEX&, const WAVEFORMATEX&) override {
    return nullptr;
  }
};

TEST(AcmTest, RegisteredDriversTakeTheirTag) {
  std::vector<BYTE> f = Format(0x4242, 1, 1, 8, {});
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  auto* src = reinterpret_cast<WAVEFORMATEX*>(f.data());
  EXPECT_NE(acmFormatSuggest(nullptr, src, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  orvane::acm::RegisterDriver(std::make_shared<FakeDriver>());
  EXPECT_EQ(acmFormatSuggest(nullptr, src, &pcm, sizeof(pcm), ACM_FORMATSUGGESTF_WFORMATTAG), 0u);
  HACMSTREAM s = nullptr;
  EXPECT_EQ(acmStreamOpen(&s, nullptr, src, &pcm, nullptr, 0, 0, 0), UINT{ACMERR_NOTPOSSIBLE})
      << "no decoder";
}

}  // namespace
