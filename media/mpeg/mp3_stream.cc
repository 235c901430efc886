// Mp3Stream: finding MPEG audio in a file, describing it from its first frame, frame decoding.
#include "media/mpeg/mp3_stream.h"

#include <cstring>
#include <new>

#include "base/dexcept.h"

namespace {

// The length of a leading ID3v2 tag ("ID3", version, flags, a 28-bit syncsafe size, an optional
// 10-byte footer), or 0 when the bytes do not start one.
uint32_t Id3v2Length(const uint8_t* h) {
  if (std::memcmp(h, "ID3", 3) != 0 || h[3] == 0xFF || h[4] == 0xFF) return 0;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
  const uint32_t size = (uint32_t{h[6]} << 21) | (uint32_t{h[7]} << 14) | (uint32_t{h[8]} << 7) | h[9];
  return 10 + size + ((h[5] & 0x10) ? 10 : 0);
}

}  // namespace

Mp3Stream::~Mp3Stream() {
  Close();
}

bool Mp3Stream::FindAudio(DFile& source, DFile& view) {
  const int64_t size = source.GetSize();
  if (size < 0) return false;
  int64_t cut = 0;
  if (size >= 128) {
    char tag[3];
    if (!source.Seek(DFile::kSeekStart, size - 128) || source.Read(tag, 3) != 3) return false;
    if (std::memcmp(tag, "TAG", 3) == 0) cut = 128;
  }
  if (!source.Seek(DFile::kSeekStart, 0)) return false;
  const int64_t end = size - cut;
  // A leading ID3v2 tag holds text and pictures full of false syncs: step over it. A tag that
  // claims more than the file holds is not taken as one.
  int64_t pos = 0;
  uint8_t head[10];
  if (source.Read(head, 10) == 10) {
    const uint32_t tag = Id3v2Length(head);
    if (tag > 0 && tag < end) pos = tag;
  }
  // Blocks of 1024 bytes that overlap by three, so a sync across a block edge is seen.
  uint8_t buf[1024];
  int64_t found = -1;
  while (found < 0) {
    if (!source.Seek(DFile::kSeekStart, pos)) return false;
    const int64_t n = source.Read(buf, sizeof(buf));
    if (n < 4) return false;
    for (int64_t i = 0; i + 4 <= n; ++i) {
      if (buf[i] == 0xFF && (buf[i + 1] >> 4) >= 0xE) {
        found = pos + i;
        break;
      }
    }
    pos += n - 3;
  }
  if (found >= end) return false;  // no audio before the ID3v1 tag
  view.Close();
  return view.OpenView(source, found, static_cast<uint32_t>(end - found));
}

bool Mp3Stream::Create() {
  if (decoder_) return false;
  try {
    decoder_.Alloc(1);
  } catch (const DBadAlloc&) {
    return false;
  }
  decoder_.Get()->Clear();
  flags_ |= kRestart;
  return true;
}

bool Mp3Stream::ReadFirstFrame(const uint8_t* first, DFile* view) {
  Mp3Decoder* d = decoder_.Get();
  if (!d) return false;
  Mp3FrameInfo fi;
  if (!d->GetFrameInfo(first, 156, &fi, false)) return false;
  format_ = MakeStreamPcmFormat(static_cast<uint32_t>(fi.channels), static_cast<uint32_t>(fi.rate));
  max_frame_ = static_cast<uint32_t>(fi.max_frame_bytes);
  pcm_per_frame_ = static_cast<uint32_t>(fi.pcm_bytes);
  total_ = 0;
  if (view) {
    const int64_t bytes = view->GetSize();
    if (bytes < 0) return false;
    // In 64 bits, and never more than the view can hold at the smallest frame length: a VBR
    // header's frame count is only a claim.
    const uint64_t frame = static_cast<uint64_t>(fi.frame_bytes > 0 ? fi.frame_bytes : 1);
    const uint64_t cap = (static_cast<uint64_t>(bytes) / frame + 1) * pcm_per_frame_;
    uint64_t total = fi.bitrate == 0 ? uint64_t{static_cast<uint32_t>(fi.vbr_frames)} * pcm_per_frame_
                                     : (static_cast<uint64_t>(bytes) / frame) * pcm_per_frame_;
    if (total > cap) total = cap;
    if (total > 0xFFFFFFFFu) total = 0xFFFFFFFFu;
    total_ = static_cast<uint32_t>(total);
  }
  d->SetOptions(Mp3DecodeOptions{0, 0, fi.rate});
  return true;
}

void Mp3Stream::GetWaveFormat(void* format) const {
  std::memcpy(format, &format_, sizeof(format_));
}

uint32_t Mp3Stream::DecodeFrame(uint8_t* output, const uint8_t* input, uint32_t bytes) {
  if (!decoder_) return 0;
  DRef<Mp3Decoder> hold = decoder_;  // kept alive for the call
  Mp3Decoder* d = hold.Get();
  if (flags_ & kRestart) {
    if (!d->InitFromFrame(input, bytes)) return 0;
    flags_ &= ~kRestart;
  }
  Mp3DecodeRequest rq;
  rq.input = input;
  rq.input_bytes = bytes;
  rq.output = output;
  if (!d->DecodeFrame(&rq)) return 0;
  return rq.input_bytes;
}

bool Mp3Stream::Close() {
  if (!decoder_) return false;
  format_ = StreamPcmFormat{};
  total_ = max_frame_ = pcm_per_frame_ = flags_ = 0;
  decoder_.Release();
  return true;
}
