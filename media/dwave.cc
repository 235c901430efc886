// The audio file reader: RIFF WAVE and AVI parsing, ACM conversion, and the hand-off to the
// MPEG audio and Ogg Vorbis decoders.
#include "media/dwave.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/dlogstream.h"
#include "base/dpath.h"

namespace {

constexpr uint32_t kMaxFormatChunk = 64 * 1024;

DWaveMpegMaker g_mpeg_maker = nullptr;
DWaveOggMaker g_ogg_maker = nullptr;

constexpr uint32_t Id(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}
uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A PCM format that a sound buffer accepts.
bool PlayablePcm(const WAVEFORMATEX& f) {
  return (f.nChannels == 1 || f.nChannels == 2) && (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) &&
         f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 && f.nSamplesPerSec >= 100 &&
         f.nSamplesPerSec <= 200000 && f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

bool ReadExact(DFile& f, void* p, uint32_t n) {
  return f.Read(p, n) == static_cast<int64_t>(n);
}

}  // namespace

void DWaveSetDecoders(DWaveMpegMaker mpeg, DWaveOggMaker ogg) {
  g_mpeg_maker = mpeg;
  g_ogg_maker = ogg;
}

bool FindRiffChunk(DFile& file, uint32_t n, uint32_t id, uint32_t* size) {
  for (;;) {
    uint8_t header[8];
    if (!ReadExact(file, header, 8)) return false;
    uint32_t s = Le32(header + 4);
    if (Le32(header) == id) {
      if (n == 0) {
        *size = s;
        return true;
      }
      --n;
    }
    if (!file.Seek(DFile::kSeekCurrent, int64_t{s} + (s & 1))) return false;
  }
}

DWave::~DWave() {
  Close();
}

uint32_t DWave::BytesLeftInFile() {
  int64_t pos = file_.Tell();
  int64_t size = file_.GetSize();
  if (pos < 0 || size < 0 || size <= pos) return 0;
  int64_t left = size - pos;
  return left > 0xFFFFFFFFll ? 0xFFFFFFFFu : static_cast<uint32_t>(left);
}

bool DWave::ReadFormatChunk(uint32_t size) {
  if (size < 16 || size > kMaxFormatChunk) return false;
  format_chunk_.Alloc(size > 18 ? size : 18);
  std::memset(format_chunk_.Get(), 0, 18);
  if (!ReadExact(file_, format_chunk_.Get(), size)) return false;
  // cbSize never claims bytes that the chunk does not hold.
  WAVEFORMATEX* f = reinterpret_cast<WAVEFORMATEX*>(format_chunk_.Get());
  uint32_t extra = size > 18 ? size - 18 : 0;
  if (f->cbSize > extra) f->cbSize = static_cast<WORD>(extra);
  return true;
}

bool DWave::Open(const DFile& source) {
  if (open_) return false;
  file_.Close();
  decoding_ = 0;
  bool ok = file_.OpenView(source, 0, DFile::kToEnd) && file_.Seek(DFile::kSeekStart, 0);
  if (ok) {
    uint8_t head[12];
    if (!ReadExact(file_, head, 12)) {
      ok = false;
    } else if (Le32(head) == Id("RIFF") && Le32(head + 8) == Id("WAVE")) {
      ok = OpenWave();
    } else {
      ok = OpenAvi() || OpenMpeg() || OpenOgg();
    }
  }
  if (!ok) {
    Close();
    return false;
  }
  open_ = 1;
  return true;
}

bool DWave::OpenWave() {
  uint32_t size = 0;
  if (!FindRiffChunk(file_, 0, Id("fmt "), &size) || !ReadFormatChunk(size)) return false;
  const WAVEFORMATEX* chunk = reinterpret_cast<const WAVEFORMATEX*>(format_chunk_.Get());
  if (!file_.Seek(DFile::kSeekStart, 12) || !FindRiffChunk(file_, 0, Id("data"), &size)) return false;
  uint32_t held = BytesLeftInFile();
  if (size > held) size = held;
  data_start_ = static_cast<uint32_t>(file_.Tell());
  if (chunk->wFormatTag == WAVE_FORMAT_PCM) {
    kind_ = kWavPcm;
    output_format_ = *chunk;
    output_format_.cbSize = 0;
    if (!PlayablePcm(output_format_)) return false;
    total_pcm_ = size;
    Rewind();
    return true;
  }
  kind_ = kWavAcm;
  source_format_ = reinterpret_cast<WAVEFORMATEX*>(format_chunk_.Get());
  compressed_ = size;
  return InitAcmSource();
}

bool DWave::OpenAvi() {
  uint8_t head[12];
  if (!file_.Seek(DFile::kSeekStart, 0) || !ReadExact(file_, head, 12)) return false;
  if (Le32(head) != Id("RIFF") || Le32(head + 8) != Id("AVI ")) return false;
  // The first top-level LIST of a type; *contents gets the position after its type. Lists are
  // visited in order (the i-th LIST from the top level each time), one pass over the file.
  auto find_list = [&](uint32_t from, uint32_t type, uint32_t* contents) {
    uint64_t at = from;
    for (;;) {
      uint32_t size;
      uint8_t t[4];
      if (at > 0xFFFFFFFFu || !file_.Seek(DFile::kSeekStart, static_cast<int64_t>(at)) ||
          !FindRiffChunk(file_, 0, Id("LIST"), &size)) {
        return false;
      }
      uint64_t data = static_cast<uint64_t>(file_.Tell());
      if (!ReadExact(file_, t, 4)) return false;
      if (Le32(t) == type) {
        *contents = static_cast<uint32_t>(data + 4);
        return true;
      }
      at = data + size + (size & 1);
    }
  };
  uint32_t hdrl;
  if (!find_list(12, Id("hdrl"), &hdrl)) return false;
  // The stream number counts every LIST inside hdrl, whatever its type.
  int stream = -1;
  uint64_t at = hdrl;
  for (int j = 0; stream < 0; ++j) {
    uint32_t size;
    uint8_t t[4];
    if (at > 0xFFFFFFFFu || !file_.Seek(DFile::kSeekStart, static_cast<int64_t>(at)) ||
        !FindRiffChunk(file_, 0, Id("LIST"), &size)) {
      return false;
    }
    uint64_t data = static_cast<uint64_t>(file_.Tell());
    at = data + size + (size & 1);
    if (!ReadExact(file_, t, 4)) return false;
    if (Le32(t) != Id("strl")) continue;
    uint32_t strl = static_cast<uint32_t>(data + 4);
    uint8_t strh[56];
    if (!FindRiffChunk(file_, 0, Id("strh"), &size) || size < 56 || !ReadExact(file_, strh, 56) ||
        Le32(strh) != Id("auds")) {
      continue;
    }
    if (!file_.Seek(DFile::kSeekStart, strl) || !FindRiffChunk(file_, 0, Id("strf"), &size) ||
        !ReadFormatChunk(size)) {
      continue;
    }
    stream = j;
  }
  uint32_t movi;
  if (!find_list(12, Id("movi"), &movi)) return false;
  data_start_ = movi;
  char id[16];
  std::snprintf(id, sizeof(id), "%02dwb", stream);
  avi_id_ = uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 | uint32_t(uint8_t(id[2])) << 16 |
            uint32_t(uint8_t(id[3])) << 24;
  compressed_ = 0;
  if (!file_.Seek(DFile::kSeekStart, data_start_)) return false;
  uint32_t size;
  while (FindRiffChunk(file_, 0, avi_id_, &size)) {
    uint32_t held = BytesLeftInFile();
    uint32_t take = size < held ? size : held;
    compressed_ += take;  // chunks do not overlap, so the sum stays within the file
    if (!file_.Seek(DFile::kSeekCurrent, int64_t{size} + (size & 1))) break;
  }
  kind_ = kAviPcm;
  source_format_ = reinterpret_cast<WAVEFORMATEX*>(format_chunk_.Get());
  if (source_format_->wFormatTag == WAVE_FORMAT_PCM) {
    output_format_ = *source_format_;
    output_format_.cbSize = 0;
    if (!PlayablePcm(output_format_)) return false;
    total_pcm_ = compressed_;
    Rewind();
    return true;
  }
  kind_ = kAviAcm;
  return InitAcmSource();
}

bool DWave::OpenMpeg() {
  if (!g_mpeg_maker) return false;
  std::unique_ptr<DWaveMpegDecoder> mpeg = g_mpeg_maker();
  DFile view;
  if (!mpeg || !mpeg->FindAudio(file_, view)) return false;
  uint8_t first[156];
  if (!ReadExact(view, first, sizeof(first)) || first[0] != 0xFF || (first[1] & 0xE0) != 0xE0) return false;
  if (!mpeg->ReadFirstFrame(first, view)) return false;
  int64_t size = view.GetSize();
  if (size < 0 || size > 0xFFFFFFFFll) return false;
  compressed_ = static_cast<uint32_t>(size);
  kind_ = kMpeg;
  file_.Close();
  if (!file_.OpenView(view, 0, DFile::kToEnd)) return false;
  output_format_ = mpeg->GetWaveFormat();
  total_pcm_ = mpeg->GetTotalBytes();
  data_start_ = 0;
  source_size_ = mpeg->GetLargestFrame() > 8192 ? mpeg->GetLargestFrame() : 8192;
  output_size_ = mpeg->GetBytesPerFrame();
  if (output_size_ == 0 || output_size_ > (1u << 20) || source_size_ > (1u << 20)) return false;
  source_buffer_.Alloc(source_size_);
  output_buffer_.Alloc(output_size_);
  mpeg_ = std::move(mpeg);
  Rewind();
  return true;
}

bool DWave::OpenOgg() {
  if (!g_ogg_maker) return false;
  std::unique_ptr<DWaveOggDecoder> ogg = g_ogg_maker();
  if (!ogg || !file_.Seek(DFile::kSeekStart, 0) || !ogg->Open(file_)) return false;
  output_format_ = ogg->GetWaveFormat();
  total_pcm_ = ogg->GetTotalBytes();
  kind_ = kOgg;
  ogg_ = std::move(ogg);
  Rewind();
  return true;
}

void DWave::LogAcmFailure() {
  DDebugLog() << "[DWave] Can't init ACM to '" << file_.GetName() << "'\n";
}

bool DWave::InitAcmSource() {
  std::memset(&output_format_, 0, sizeof(output_format_));
  output_format_.wFormatTag = WAVE_FORMAT_PCM;
  total_pcm_ = 0;
  HACMSTREAM probe = nullptr;
  if (acmFormatSuggest(nullptr, source_format_, &output_format_, sizeof(output_format_),
                       ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR ||
      acmStreamOpen(&probe, nullptr, source_format_, &output_format_, nullptr, 0, 0, 0) != MMSYSERR_NOERROR) {
    LogAcmFailure();
    return false;
  }
  MMRESULT r =
      acmStreamSize(probe, compressed_, reinterpret_cast<LPDWORD>(&total_pcm_), ACM_STREAMSIZEF_SOURCE);
  acmStreamClose(probe, 0);
  if (r != MMSYSERR_NOERROR || !PlayablePcm(output_format_)) {
    LogAcmFailure();
    return false;
  }
  Rewind();
  return true;
}

bool DOpenProgramFile(const DString& name, DFile* file) {
  char program[264] = {};
  GetModuleFileNameA(nullptr, program, sizeof(program));
  char drive[264] = {}, dir[264] = {}, stem[264] = {}, ext[264] = {};
  DSplitPathEx(DString(static_cast<const char*>(program)), drive, dir, stem, ext);
  char base[600];
  std::snprintf(base, sizeof(base), "%s%s", drive, dir);
  DStringBuffer path = DGetAbsolutePath(name, DString(static_cast<const char*>(base)));
  char cut[264] = {};
  DString::CopyTo(path.GetBuffer(), cut, sizeof(cut));
  return file->Open(DString(static_cast<const char*>(cut)), DFile::kRead);
}

bool DWave::OpenFile(const DString& name) {
  DFile file;
  return DOpenProgramFile(name, &file) && Open(file);
}

bool DWave::BeginDecode() {
  if (decoding_) return false;
  if (!(kind_ & 1)) {
    decoding_ = 1;
    return true;
  }
  std::memset(&output_format_, 0, sizeof(output_format_));
  output_format_.wFormatTag = WAVE_FORMAT_PCM;
  bool ok =
      acmFormatSuggest(nullptr, source_format_, &output_format_, sizeof(output_format_),
                       ACM_FORMATSUGGESTF_WFORMATTAG) == MMSYSERR_NOERROR &&
      acmStreamOpen(&acm_, nullptr, source_format_, &output_format_, nullptr, 0, 0, 0) == MMSYSERR_NOERROR &&
      acmStreamSize(acm_, compressed_, reinterpret_cast<LPDWORD>(&total_pcm_), ACM_STREAMSIZEF_SOURCE) ==
          MMSYSERR_NOERROR;
  if (ok) {
    // Blocks of nBlockAlign x 1024 bytes, or fewer when the whole data is smaller: the
    // conversion gives the same PCM either way.
    uint32_t align = source_format_->nBlockAlign ? source_format_->nBlockAlign : 1;
    uint32_t blocks = compressed_ / align + 1;
    source_size_ = align * (blocks < 1024 ? blocks : 1024);
    source_buffer_.Alloc(source_size_);
    ok = acmStreamSize(acm_, source_size_, reinterpret_cast<LPDWORD>(&output_size_),
                       ACM_STREAMSIZEF_SOURCE) == MMSYSERR_NOERROR;
  }
  if (ok) {
    output_buffer_.Alloc(output_size_);
    std::memset(&acm_header_, 0, sizeof(acm_header_));
    acm_header_.cbStruct = sizeof(ACMSTREAMHEADER);
    acm_header_.pbSrc = source_buffer_.Get();
    acm_header_.cbSrcLength = source_size_;
    acm_header_.pbDst = output_buffer_.Get();
    acm_header_.cbDstLength = output_size_;
    ok = acmStreamPrepareHeader(acm_, &acm_header_, 0) == MMSYSERR_NOERROR;
  }
  if (!ok) {
    LogAcmFailure();
    if (acm_) acmStreamClose(acm_, 0);
    acm_ = nullptr;
    return false;
  }
  decoding_ = 1;
  return true;
}

bool DWave::EndDecode() {
  if (!decoding_) return false;
  decoding_ = 0;
  if (acm_) {
    acmStreamUnprepareHeader(acm_, &acm_header_, 0);
    acmStreamClose(acm_, 0);
    acm_ = nullptr;
  }
  return true;
}

int32_t DWave::Read(void* destination, uint32_t bytes) {
  if (!open_) return -1;
  if (!decoding_) {
    DDebugLog() << "[DWave] Run BeginDecode before Read '" << file_.GetName() << "'\n";
    return -1;
  }
  if (bytes == 0) return 0;
  if (kind_ == kOgg) return ogg_->Read(destination, bytes);
  uint32_t m = bytes < pcm_left_ ? bytes : pcm_left_;
  if (m == 0) return 0;
  if (m > 0x7FFFFFFFu) m = 0x7FFFFFFFu;
  int32_t r = (kind_ & (1 | kMpeg)) ? DecodeRead(static_cast<uint8_t*>(destination), m)
                                    : ReadSource(static_cast<uint8_t*>(destination), m);
  if (r > 0) pcm_left_ -= static_cast<uint32_t>(r);
  return r;
}

int32_t DWave::DecodeRead(uint8_t* destination, uint32_t bytes) {
  uint32_t delivered = 0;
  while (delivered < bytes) {
    if (decoded_ > 0) {
      uint32_t n = bytes - delivered < decoded_ ? bytes - delivered : decoded_;
      if (destination) std::memcpy(destination + delivered, output_buffer_.Get() + decoded_pos_, n);
      decoded_pos_ += n;
      decoded_ -= n;
      delivered += n;
      continue;
    }
    if (kind_ == kMpeg) {
      uint32_t used = mpeg_->DecodeFrame(output_buffer_.Get(), source_buffer_.Get() + mpeg_pos_, mpeg_held_);
      if (used == 0) {
        std::memmove(source_buffer_.Get(), source_buffer_.Get() + mpeg_pos_, mpeg_held_);
        mpeg_pos_ = 0;
        uint32_t room = source_size_ - mpeg_held_;
        uint32_t want = compressed_left_ < room ? compressed_left_ : room;
        if (want == 0) break;
        int32_t got = ReadSource(source_buffer_.Get() + mpeg_held_, want);
        if (got != static_cast<int32_t>(want)) return -1;
        compressed_left_ -= want;
        mpeg_held_ += want;
        used = mpeg_->DecodeFrame(output_buffer_.Get(), source_buffer_.Get(), mpeg_held_);
        if (used == 0) break;
      }
      if (used > mpeg_held_) used = mpeg_held_;
      mpeg_pos_ += used;
      mpeg_held_ -= used;
      decoded_ = output_size_;
      decoded_pos_ = 0;
    } else {
      uint32_t want = compressed_left_ < source_size_ ? compressed_left_ : source_size_;
      if (want == 0) break;
      int32_t got = ReadSource(source_buffer_.Get(), want);
      if (got != static_cast<int32_t>(want)) return -1;
      compressed_left_ -= want;
      std::memset(source_buffer_.Get() + want, 0, source_size_ - want);
      if (acmStreamConvert(acm_, &acm_header_, 0) != MMSYSERR_NOERROR) break;
      decoded_ = acm_header_.cbDstLengthUsed < output_size_ ? acm_header_.cbDstLengthUsed : output_size_;
      decoded_pos_ = 0;
      if (decoded_ == 0) break;
    }
  }
  return static_cast<int32_t>(delivered);
}

int32_t DWave::ReadSource(uint8_t* destination, uint32_t bytes) {
  if (!(kind_ & 2)) {
    if (destination) {
      int64_t r = file_.Read(destination, bytes);
      return r < 0 ? -1 : static_cast<int32_t>(r);
    }
    return file_.Seek(DFile::kSeekCurrent, bytes) ? static_cast<int32_t>(bytes) : -1;
  }
  int32_t total = 0;
  while (bytes > 0) {
    if (avi_left_ > 0) {
      uint32_t n = avi_left_ < bytes ? avi_left_ : bytes;
      int64_t got;
      if (destination) {
        got = file_.Read(destination + total, n);
      } else {
        got = file_.Seek(DFile::kSeekCurrent, n) ? n : -1;
      }
      if (got <= 0) break;
      bytes -= static_cast<uint32_t>(got);
      avi_left_ -= static_cast<uint32_t>(got);
      total += static_cast<int32_t>(got);
      if (got < n) break;
      continue;
    }
    uint32_t size;
    if (!file_.Seek(DFile::kSeekStart, avi_next_) || !FindRiffChunk(file_, 0, avi_id_, &size)) {
      avi_left_ = 0;
      break;
    }
    uint32_t here = static_cast<uint32_t>(file_.Tell());
    avi_left_ = size;
    uint64_t next = uint64_t{here} + size + (size & 1);
    avi_next_ = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(next);
  }
  return total;
}

void DWave::Skip(float seconds) {
  if (!open_) return;
  if (!decoding_) {
    DDebugLog() << "[DWave] Run BeginDecode before Read '" << file_.GetName() << "'\n";
    return;
  }
  if (kind_ == kOgg) {
    ogg_->Skip(seconds);
    return;
  }
  // The product is kept as a float and rounded to the nearest whole number; a negative, NaN or
  // huge value never reaches an undefined conversion.
  float product = static_cast<float>(output_format_.nAvgBytesPerSec) * seconds;
  uint32_t bytes;
  if (!(product > 0.0f)) {
    bytes = 0;
  } else if (product >= 4294967040.0f) {
    bytes = 0xFFFFFFFFu;
  } else {
    bytes = static_cast<uint32_t>(std::nearbyint(static_cast<double>(product)));
  }
  uint32_t align = output_format_.nBlockAlign ? output_format_.nBlockAlign : 1;
  bytes -= bytes % align;
  if (bytes > pcm_left_) bytes = pcm_left_;
  if (bytes == 0) return;
  if (bytes > 0x7FFFFFFFu) bytes = 0x7FFFFFFFu - 0x7FFFFFFFu % align;
  int32_t r = (kind_ & (1 | kMpeg)) ? DecodeRead(nullptr, bytes) : ReadSource(nullptr, bytes);
  if (r > 0) pcm_left_ -= static_cast<uint32_t>(r);
}

void DWave::Rewind() {
  if (kind_ == kOgg) {
    if (ogg_) ogg_->Rewind();
    return;
  }
  pcm_left_ = total_pcm_;
  file_.Seek(DFile::kSeekStart, data_start_);
  compressed_left_ = compressed_;
  mpeg_held_ = mpeg_pos_ = 0;
  decoded_ = decoded_pos_ = 0;
  if (kind_ == kMpeg && mpeg_) mpeg_->Restart();
  if (kind_ & 2) {
    uint32_t size;
    if (FindRiffChunk(file_, 0, avi_id_, &size)) {
      uint64_t next = static_cast<uint64_t>(file_.Tell()) + size + (size & 1);
      avi_next_ = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(next);
      avi_left_ = size;
    } else {
      avi_next_ = data_start_;
      avi_left_ = 0;
    }
  }
}

bool DWave::Close() {
  format_chunk_.Release();
  output_buffer_.Release();
  source_buffer_.Release();
  source_format_ = nullptr;
  if (mpeg_) {
    mpeg_->Close();
    mpeg_.reset();
  }
  if (ogg_) {
    ogg_->Close();
    ogg_.reset();
  }
  file_.Close();
  if (!open_) {
    decoding_ = 0;
    if (acm_) acmStreamClose(acm_, 0);
    acm_ = nullptr;
    return false;
  }
  EndDecode();
  open_ = 0;
  return true;
}
