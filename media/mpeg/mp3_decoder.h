// Mp3Decoder: the MPEG-1/2/2.5 audio decoder (layers I, II and III) that turns one frame per
// call into interleaved PCM. One plain state block holds every buffer; nothing is allocated
// while decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The twelve fields of a frame header, each as coded (version and layer decoded).
struct Mp3Header {
  int32_t version = 0;         // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
  int32_t layer = 0;           // 1, 2 or 3
  int32_t crc = 0;             // 1 when a CRC word follows the header
  int32_t bitrate_index = 0;   // 1 .. 14
  int32_t sampling_index = 0;  // 0 .. 2
  int32_t padding = 0;
  int32_t private_bit = 0;
  int32_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int32_t mode_extension = 0;
  int32_t copyright = 0;
  int32_t original = 0;
  int32_t emphasis = 0;
};

// What GetFrameInfo tells about a frame and the stream it starts.
struct Mp3FrameInfo : Mp3Header {
  int32_t channels = 0;         // output channels
  int32_t bits = 0;             // output bits per sample (16, or 8)
  int32_t rate = 0;             // output sampling rate in Hz
  int32_t bitrate = 0;          // bit/s; 0 when the frame carries a VBR header
  int32_t vbr_frames = 0;       // frame count of the VBR header
  int32_t vbr_frame_bytes = 0;  // this frame's length (VBR only, else 0)
  int32_t vbr_bytes = 0;        // byte count of the VBR header
  int32_t frame_bytes = 0;      // frame length without padding (VBR: at the smallest bit rate)
  int32_t max_frame_bytes = 0;  // largest frame length
  int32_t pcm_bytes = 0;        // PCM bytes per frame
};

struct Mp3DecodeOptions {
  int32_t reduction = 0;       // 0 full rate (half and quarter rate are not built: taken as 0)
  int32_t conversion = 0;      // bits 0-1: 1 mix, 2 left, 3 right into one channel; bit 3: 8-bit output
  int32_t freq_limit = 24000;  // Hz
};

struct Mp3DecodeRequest {
  Mp3Header header;  // filled by DecodeFrame
  const uint8_t* input = nullptr;
  uint32_t input_bytes = 0;   // on return: the bytes consumed
  uint8_t* output = nullptr;  // must hold the PCM bytes per frame
  uint32_t output_bytes = 0;  // on return: the bytes produced
};

// Error codes left by a failing operation.
enum Mp3Error : int32_t {
  kMp3ErrorNone = 0,
  kMp3ErrorSync = 3,    // no 0xFF, or a second byte whose high nibble is neither 0xF nor 0xE
  kMp3ErrorHeader = 4,  // reserved or free-format fields; a Xing header without frame/byte flags
  kMp3ErrorShort = 5,   // too few bytes; no sync found
};

// Reads most significant bit first from a byte range; bytes past the end read as zero, so a
// damaged length can never make it read outside the range.
struct Mp3BitReader {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t pos = 0;  // next byte to load into the accumulator
  uint64_t acc = 0;  // held bits, left-aligned
  int bits = 0;      // number of held bits

  void Seat(const uint8_t* d, uint32_t n, uint64_t bit_position) {
    data = d;
    size = n;
    pos = static_cast<uint32_t>(bit_position >> 3);
    acc = 0;
    bits = 0;
    const int skip = static_cast<int>(bit_position & 7);
    if (skip) Skip(skip);
  }
  void Fill() {
    if (pos + 8 <= size) {
      // Eight bytes at once; the bits below the counted ones are the stream's next bits, so a
      // later fill ORs the same values onto them.
      uint64_t v;
      std::memcpy(&v, data + pos, 8);
      v = __builtin_bswap64(v);
      acc |= v >> bits;
      const int take = (63 - bits) >> 3;
      pos += static_cast<uint32_t>(take);
      bits += take * 8;
      return;
    }
    while (bits <= 56) {
      const uint64_t b = pos < size ? data[pos] : 0;
      ++pos;
      acc |= b << (56 - bits);
      bits += 8;
    }
  }
  // n from 1 to 32.
  uint32_t Peek(int n) {
    if (bits < n) Fill();
    return static_cast<uint32_t>(acc >> (64 - n));
  }
  void Skip(int n) {
    if (n <= 0) return;
    if (bits < n) Fill();
    acc <<= n;
    bits -= n;
  }
  uint32_t Read(int n) {
    if (n <= 0) return 0;
    const uint32_t v = Peek(n);
    acc <<= n;
    bits -= n;
    return v;
  }
  uint32_t Read1() { return Read(1); }
  // Drops n bits (0 to 32) that a Peek of at least n bits has just loaded.
  void SkipPeeked(int n) {
    acc <<= n;
    bits -= n;
  }
  // Skips any number of bits, re-seating by whole bytes when it passes the held bits.
  void SkipLong(uint64_t n) {
    if (n <= static_cast<uint64_t>(bits)) {
      Skip(static_cast<int>(n));
      return;
    }
    const uint64_t target = BitPosition() + n;
    Seat(data, size, target);
  }
  uint64_t BitPosition() const { return static_cast<uint64_t>(pos) * 8 - bits; }
};

bool Mp3IsFrameSync(const uint8_t* bytes, size_t length);
uint32_t Mp3ReadBE32(const uint8_t* bytes);

// Layer III side information of one granule and channel.
struct Mp3GranuleInfo {
  int32_t part2_3_length;
  int32_t big_values;
  int32_t global_gain;
  int32_t scalefac_compress;
  int32_t window_switching;
  int32_t block_type;
  int32_t mixed;
  int32_t table_select[3];
  int32_t subblock_gain[3];
  int32_t region0_count;
  int32_t region1_count;
  int32_t preflag;
  int32_t scalefac_scale;
  int32_t count1_table;
};

class Mp3Decoder {
 public:
  static constexpr int kReservoirBytes = 8192;
  static constexpr int kReservoirCompact = 6692;

  // Zeroes the whole block and resets it (options and tables).
  void Clear();
  // Default options and every table.
  void Reset();
  bool SetOptions(const Mp3DecodeOptions& options);
  void GetOptions(Mp3DecodeOptions* options) const;
  // Ten values in tenths of a decibel, or null to switch the equalizer off.
  bool SetEqualizer(const int32_t* values);
  // Describes the frame at the start of the bytes; with record, keeps its input rate and PCM
  // bytes per frame in the state.
  bool GetFrameInfo(const uint8_t* bytes, uint32_t length, Mp3FrameInfo* info, bool record);
  // Sets the decoder up for the stream that begins with that frame.
  bool InitFromFrame(const uint8_t* bytes, uint32_t length);
  // Decodes the frame at the start of the request's input.
  bool DecodeFrame(Mp3DecodeRequest* request);
  int32_t GetError() const { return error_; }
  bool ParseHeader(const uint8_t* bytes, Mp3Header* header);
  bool FindSync(const uint8_t* bytes, uint32_t length, uint32_t* offset);
  void SelectLayer(const Mp3FrameInfo& info);
  void ClearReservoir();
  void ClearLayer();

  // The synthesis of one block of 32 subband samples of a channel into 32 PCM values (before
  // truncation); exposed for the tests of the filter bank.
  void SynthesizeBlock(int channel, const float* subbands, float* out);
  void ClearSynthesis();

  // A synthesised value as a PCM sample: truncated toward zero, then clipped; 8-bit output is
  // the top byte with the sign bit inverted.
  static int ToPcm16(float v) {
    return static_cast<int>(v < -32768.0f ? -32768.0f : (v < 32767.0f ? v : 32767.0f));
  }
  static uint8_t ToPcm8(float v) { return static_cast<uint8_t>((ToPcm16(v) >> 8) ^ 0x80); }

  // Regions decoded with each layer III Huffman table since Clear (for coverage reports).
  const uint32_t* HuffmanTableUse() const { return table_use_; }

  // Layer III intensity-stereo ratios (for the tests): MPEG-1 is_pos 0..6.
  static void Mpeg1IntensityRatio(int is_pos, float* left, float* right);

 private:
  using LayerRoutine = void (Mp3Decoder::*)(const Mp3Header& header, const uint8_t* frame, uint8_t* output);

  // Layers I and II (mp3_layer12.cc).
  bool InitLayer1(const Mp3FrameInfo& info);
  bool InitLayer2(const Mp3FrameInfo& info);
  void DecodeLayer1(const Mp3Header& header, const uint8_t* frame, uint8_t* output);
  void DecodeLayer2(const Mp3Header& header, const uint8_t* frame, uint8_t* output);
  int BandLimit(int subbands) const;
  // Layer III (mp3_layer3.cc).
  bool InitLayer3(const Mp3FrameInfo& info);
  void DecodeLayer3(const Mp3Header& header, const uint8_t* frame, uint8_t* output);
  void DecodeGranule(const Mp3Header& header, uint8_t* output, int granule);
  void ReadScaleFactorsMpeg1(int granule, int channel);
  void ReadScaleFactorsMpeg2(int channel, bool intensity_right);
  bool HuffmanDecode(int granule, int channel, uint64_t end_bit, uint64_t limit_bit);
  void Requantize(int granule, int channel);
  void StereoProcess(int granule, bool ms, bool is);
  void Antialias(int granule, int channel);
  void Hybrid(int granule, int channel, float (*out)[32]);
  void NoOutput(const Mp3Header&, const uint8_t*, uint8_t*) {}
  // Synthesis and output (mp3_synth.cc).
  void OutputBlocks12(int blocks, uint8_t* output);
  void OutputChannel3(const float (*blocks)[32], int channel, uint8_t* output);
  void WritePcm(const float* pcm, uint8_t* output, int index, int stride);
  void Silence(uint8_t* output, uint32_t bytes);

  // Bit reader.
  Mp3BitReader reader_;
  // Synthesis histories: per channel 16 blocks of the two halves of the matrixed values.
  alignas(32) float synth_a_[2][16][32];
  alignas(32) float synth_b_[2][16][32];
  int32_t synth_pos_[2];
  // Equalizer.
  int32_t eq_on_;
  float eq_gain_[32];
  Mp3DecodeOptions options_;
  int32_t input_rate_;
  int32_t pcm_bytes_;
  int32_t frame_bytes_;
  // Stream set-up from the initialising frame.
  int32_t version_;       // of the initialising frame
  int32_t lsf_;           // 1 for MPEG-2/2.5
  int32_t channels_;      // coded channels of the stream
  int32_t out_channels_;  // output channels
  int32_t conversion_;    // 0 none, 1 mix, 2 left, 3 right
  int32_t out8_;          // 8-bit output
  int32_t band_limit_;    // subbands reconstructed
  LayerRoutine layer_;
  // Layers I and II.
  int32_t sblimit_;
  int32_t alloc_table_;  // layer II table, -1 for layer I
  float scale_[64];      // scale factors 2^(16 - n/3)
  alignas(32) float sb12_[36][2][32];
  // Layer III.
  int32_t band_row_;
  int32_t mixed_long_bands_;
  int32_t decoded_lines_;
  int32_t long_lines_;
  int32_t short_lines_;
  int32_t process_subbands_;
  int32_t slot_;
  int32_t main_data_begin_;
  int32_t private_bits_;
  int32_t scfsi_[2];
  Mp3GranuleInfo gi_[2][2];
  int32_t sf_l_[2][2][22];
  int32_t sf_s_[2][2][13][3];
  int32_t is_max_l_[22];  // MPEG-2 intensity: the illegal position of each band
  int32_t is_max_s_[13];
  int32_t intensity_scale_;
  int32_t nonzero_[2][2];
  int32_t prev_subbands_[2];     // subbands that carried an overlap into this granule
  alignas(32) float huff_[576];  // Huffman values as signed |v|^(4/3)
  alignas(32) float xr_[2][576];
  alignas(32) float overlap_[2][32][18];
  alignas(32) float hybrid_out_[18][32];
  uint8_t main_data_[kReservoirBytes + 16];
  int32_t main_fill_;
  int32_t main_start_;
  uint32_t table_use_[32];
  int32_t error_;
};
