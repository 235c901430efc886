// Mp3Decoder core: frame headers, frame information with VBR headers, set-up and frame dispatch.
#include "media/mpeg/mp3_decoder.h"

#include <cmath>
#include <cstring>

#include "media/mpeg/mpeg_tables.h"

bool Mp3IsFrameSync(const uint8_t* bytes, size_t length) {
  return length >= 4 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
}

uint32_t Mp3ReadBE32(const uint8_t* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

namespace {

int SamplesPerFrame(int version, int layer) {
  if (layer == 1) return 384;
  if (layer == 2) return 1152;
  return version == 1 ? 1152 : 576;
}

// Frame length in bytes at bit rate r (bit/s) and rate f (Hz), without the padding slot.
int FrameLength(int version, int layer, int r, int f) {
  if (layer == 1) return (12 * r / f) * 4;
  if (layer == 2 || version == 1) return 144 * r / f;
  return (144 * r / f) / 2;
}

int PaddingSlot(int layer) {
  return layer == 1 ? 4 : 1;
}

int BitRateRow(int version) {
  return version == 1 ? 0 : 1;
}

}  // namespace

void Mp3Decoder::Clear() {
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  Reset();
}

void Mp3Decoder::Reset() {
  options_ = Mp3DecodeOptions{0, 0, 24000};
  for (int n = 0; n < 64; ++n) scale_[n] = static_cast<float>(std::pow(2.0, 16.0 - n / 3.0));
  eq_on_ = 0;
  for (float& g : eq_gain_) g = 1.0f;
  layer_ = &Mp3Decoder::NoOutput;
}

bool Mp3Decoder::SetOptions(const Mp3DecodeOptions& options) {
  options_ = options;
  // Half and quarter rate synthesis are not built: decode at the full rate.
  options_.reduction = 0;
  return true;
}

void Mp3Decoder::GetOptions(Mp3DecodeOptions* options) const {
  *options = options_;
}

bool Mp3Decoder::SetEqualizer(const int32_t* values) {
  if (!values) {
    eq_on_ = 0;
    return true;
  }
  eq_on_ = 1;
  for (int sb = 0; sb < 32; ++sb) {
    int v;
    if (sb < 6)
      v = sb;
    else if (sb < 8)
      v = 6;
    else if (sb < 12)
      v = 7;
    else if (sb < 20)
      v = 8;
    else
      v = 9;
    eq_gain_[sb] = static_cast<float>(std::pow(10.0, values[v] * 0.005));
  }
  return true;
}

bool Mp3Decoder::ParseHeader(const uint8_t* b, Mp3Header* h) {
  if (b[0] != 0xFF) {
    error_ = kMp3ErrorSync;
    return false;
  }
  const int nibble = b[1] >> 4;
  int version;
  if (nibble == 0xF)
    version = (b[1] & 0x08) ? 1 : 2;
  else if (nibble == 0xE)
    version = 3;
  else {
    error_ = kMp3ErrorSync;
    return false;
  }
  const int layer_bits = (b[1] >> 1) & 3;
  const int bitrate_index = b[2] >> 4;
  const int sampling_index = (b[2] >> 2) & 3;
  if (sampling_index == 3 || bitrate_index == 0 || bitrate_index == 15 || layer_bits == 0) {
    error_ = kMp3ErrorHeader;
    return false;
  }
  h->version = version;
  h->layer = 4 - layer_bits;
  h->crc = (b[1] & 1) ? 0 : 1;
  h->bitrate_index = bitrate_index;
  h->sampling_index = sampling_index;
  h->padding = (b[2] >> 1) & 1;
  h->private_bit = b[2] & 1;
  h->mode = b[3] >> 6;
  h->mode_extension = (b[3] >> 4) & 3;
  h->copyright = (b[3] >> 3) & 1;
  h->original = (b[3] >> 2) & 1;
  h->emphasis = b[3] & 3;
  return true;
}

bool Mp3Decoder::FindSync(const uint8_t* bytes, uint32_t length, uint32_t* offset) {
  for (uint32_t i = 0; i + 4 <= length; ++i) {
    if (bytes[i] == 0xFF && (bytes[i + 1] & 0xE0) == 0xE0) {
      *offset = i;
      return true;
    }
  }
  error_ = kMp3ErrorShort;
  return false;
}

bool Mp3Decoder::GetFrameInfo(const uint8_t* bytes, uint32_t length, Mp3FrameInfo* info, bool record) {
  if (length < 156) {
    error_ = kMp3ErrorShort;
    return false;
  }
  Mp3FrameInfo fi;
  if (!ParseHeader(bytes, &fi)) return false;
  const int row = BitRateRow(fi.version);
  const int rate = mpeg::kSampleRates[fi.version - 1][fi.sampling_index];
  const int bitrate = mpeg::kBitRates[row][fi.layer - 1][fi.bitrate_index] * 1000;

  // The VBR header stands after the side information of the first frame.
  int at = 4 + (fi.crc ? 2 : 0);
  if (fi.layer == 3) {
    const bool mono = fi.mode == 3;
    if (fi.version == 1)
      at += mono ? 17 : 32;
    else
      at += mono ? 9 : 17;
  }
  const uint8_t* tag = bytes + at;  // at most 38: the 156 bytes hold the header and its fields
  bool vbr = false;
  if (std::memcmp(tag, "Xing", 4) == 0) {
    const uint32_t flags = Mp3ReadBE32(tag + 4);
    if (!(flags & 3)) {
      error_ = kMp3ErrorHeader;
      return false;
    }
    fi.vbr_frames = static_cast<int32_t>(Mp3ReadBE32(tag + 8));
    fi.vbr_bytes = static_cast<int32_t>(Mp3ReadBE32(tag + 12));
    vbr = true;
  } else if (std::memcmp(tag, "VBRI", 4) == 0) {
    fi.vbr_bytes = static_cast<int32_t>(Mp3ReadBE32(tag + 10));
    fi.vbr_frames = static_cast<int32_t>(Mp3ReadBE32(tag + 14));
    vbr = true;
  }

  const int samples = SamplesPerFrame(fi.version, fi.layer) >> options_.reduction;
  const int pad = PaddingSlot(fi.layer);
  if (!vbr) {
    fi.frame_bytes = FrameLength(fi.version, fi.layer, bitrate, rate);
    fi.vbr_frame_bytes = 0;
    fi.max_frame_bytes = fi.frame_bytes + pad;
  } else {
    int lo = 0x7FFFFFFF, hi = 0;
    for (int i = 1; i <= 14; ++i) {
      const int r = mpeg::kBitRates[row][fi.layer - 1][i];
      if (r < lo) lo = r;
      if (r > hi) hi = r;
    }
    fi.vbr_frame_bytes = FrameLength(fi.version, fi.layer, bitrate, rate) + fi.padding * pad;
    fi.frame_bytes = FrameLength(fi.version, fi.layer, lo * 1000, rate);
    fi.max_frame_bytes = FrameLength(fi.version, fi.layer, hi * 1000, rate) + pad;
  }
  fi.channels = (fi.mode == 3 || (options_.conversion & 3)) ? 1 : 2;
  if (options_.conversion & 8) {
    fi.bits = 8;
    fi.pcm_bytes = samples * fi.channels;
  } else {
    fi.bits = 16;
    fi.pcm_bytes = samples * fi.channels * 2;
  }
  if (record) {
    input_rate_ = rate;
    pcm_bytes_ = fi.pcm_bytes;
  }
  fi.rate = rate >> options_.reduction;
  fi.bitrate = vbr ? 0 : bitrate;
  *info = fi;
  return true;
}

bool Mp3Decoder::InitFromFrame(const uint8_t* bytes, uint32_t length) {
  Mp3FrameInfo info;
  if (!GetFrameInfo(bytes, length, &info, true)) return false;
  ClearSynthesis();
  version_ = info.version;
  lsf_ = info.version != 1;
  channels_ = info.mode == 3 ? 1 : 2;
  conversion_ = channels_ == 2 ? (options_.conversion & 3) : 0;
  out_channels_ = info.channels;
  out8_ = (options_.conversion & 8) ? 1 : 0;
  bool ok;
  switch (info.layer) {
    case 1:
      ok = InitLayer1(info);
      break;
    case 2:
      ok = InitLayer2(info);
      break;
    default:
      ok = InitLayer3(info);
      break;
  }
  if (!ok) return false;
  SelectLayer(info);
  return true;
}

void Mp3Decoder::SelectLayer(const Mp3FrameInfo& info) {
  switch (info.layer) {
    case 1:
      layer_ = &Mp3Decoder::DecodeLayer1;
      break;
    case 2:
      layer_ = &Mp3Decoder::DecodeLayer2;
      break;
    default:
      layer_ = &Mp3Decoder::DecodeLayer3;
      ClearReservoir();
      break;
  }
}

void Mp3Decoder::ClearReservoir() {
  main_fill_ = 0;
  main_start_ = 0;
}

void Mp3Decoder::ClearLayer() {
  layer_ = &Mp3Decoder::NoOutput;
}

bool Mp3Decoder::DecodeFrame(Mp3DecodeRequest* request) {
  if (request->input_bytes <= 4) {
    error_ = kMp3ErrorShort;
    return false;
  }
  Mp3Header& h = request->header;
  if (!ParseHeader(request->input, &h)) return false;
  if (input_rate_ <= 0) {  // never initialised
    error_ = kMp3ErrorShort;
    return false;
  }
  const int bitrate = mpeg::kBitRates[BitRateRow(h.version)][h.layer - 1][h.bitrate_index] * 1000;
  const int length = FrameLength(h.version, h.layer, bitrate, input_rate_) + h.padding * PaddingSlot(h.layer);
  if (request->input_bytes < static_cast<uint32_t>(length)) {
    error_ = kMp3ErrorShort;
    return false;
  }
  frame_bytes_ = length;
  (this->*layer_)(h, request->input, request->output);
  request->input_bytes = static_cast<uint32_t>(length);
  request->output_bytes = static_cast<uint32_t>(pcm_bytes_);
  return true;
}

int Mp3Decoder::BandLimit(int subbands) const {
  int limit = static_cast<int>((int64_t{options_.freq_limit} * 64 + input_rate_ / 2) / input_rate_);
  int ceiling = 32 >> options_.reduction;
  if (ceiling > 8) --ceiling;
  if (limit > ceiling) limit = ceiling;
  if (limit > subbands) limit = subbands;
  if (limit < 0) limit = 0;
  return limit;
}
