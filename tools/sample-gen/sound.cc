#include "tools/sample-gen/sound.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>

namespace samplegen {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kFadeMs = 5;
constexpr float kOggQuality = 0.4f;
constexpr int kOggSerial = 0x53414D50;

void PutU32(std::string* out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}
void PutU16(std::string* out, std::uint32_t v) {
  for (int k = 0; k < 2; ++k) out->push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
}

void AppendPage(std::string* out, const ogg_page& page) {
  out->append(reinterpret_cast<const char*>(page.header), page.header_len);
  out->append(reinterpret_cast<const char*>(page.body), page.body_len);
}

}  // namespace

std::vector<std::int16_t> MixTones(const Asset& a) {
  const std::int64_t count = a.ms * a.rate / 1000;
  std::vector<double> mix(static_cast<size_t>(count), 0.0);
  for (const Op& op : a.ops) {
    if (op.kind != OpKind::kTone) continue;
    const std::int64_t start = op.n[0] * a.rate / 1000;
    const std::int64_t length = std::min(op.n[1] * a.rate / 1000, count - start);
    const std::int64_t fade = std::min<std::int64_t>(kFadeMs * a.rate / 1000, length / 2);
    const double amplitude = 32767.0 * static_cast<double>(op.n[3]) / 100.0;
    const double step = 2 * kPi * static_cast<double>(op.n[2]) / a.rate;
    for (std::int64_t i = 0; i < length; ++i) {
      double envelope = 1.0;
      if (fade > 0) envelope = std::min(1.0, static_cast<double>(std::min(i, length - 1 - i)) / fade);
      mix[start + i] += amplitude * envelope * std::sin(step * static_cast<double>(i));
    }
  }
  std::vector<std::int16_t> out(mix.size());
  for (size_t i = 0; i < mix.size(); ++i)
    out[i] = static_cast<std::int16_t>(std::lround(std::clamp(mix[i], -32768.0, 32767.0)));
  return out;
}

std::string EncodeWav(const std::vector<std::int16_t>& samples, int rate) {
  const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
  std::string out = "RIFF";
  PutU32(&out, 36 + data);
  out += "WAVEfmt ";
  PutU32(&out, 16);
  PutU16(&out, 1);  // PCM
  PutU16(&out, 1);  // mono
  PutU32(&out, static_cast<std::uint32_t>(rate));
  PutU32(&out, static_cast<std::uint32_t>(rate) * 2);
  PutU16(&out, 2);
  PutU16(&out, 16);
  out += "data";
  PutU32(&out, data);
  for (std::int16_t s : samples) PutU16(&out, static_cast<std::uint16_t>(s));
  return out;
}

bool EncodeOgg(const std::vector<std::int16_t>& samples, int rate, std::string* ogg) {
  ogg->clear();
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, 1, rate, kOggQuality) != 0) {
    vorbis_info_clear(&vi);
    return false;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, kOggSerial);
  ogg_packet header, comment, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comment);
  ogg_stream_packetin(&os, &code);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) AppendPage(ogg, page);

  constexpr size_t kChunk = 1024;
  bool eos = false;
  for (size_t done = 0; !eos;) {
    const size_t n = std::min(kChunk, samples.size() - done);
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);  // end of the stream
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i) buffer[0][i] = samples[done + i] / 32768.0f;
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      done += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet) == 1) {
        ogg_stream_packetin(&os, &packet);
        while (!eos && ogg_stream_pageout(&os, &page) != 0) {
          AppendPage(ogg, page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
    if (n == 0 && !eos) {  // everything is out; flush what the last page holds
      while (ogg_stream_flush(&os, &page) != 0) AppendPage(ogg, page);
      eos = true;
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return true;
}

}  // namespace samplegen
