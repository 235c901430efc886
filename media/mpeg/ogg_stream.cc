// OggStream: Ogg Vorbis through libvorbisfile, read through the engine's own file class.
#include "media/mpeg/ogg_stream.h"

#include <cmath>
#include <cstring>

#include "base/dexcept.h"

OggStream::~OggStream() {
  Close();
}

size_t OggStream::ReadCallback(void* buffer, size_t size, size_t count, void* stream) {
  OggStream* s = static_cast<OggStream*>(stream);
  const uint64_t want = static_cast<uint64_t>(size) * count;
  const uint32_t n = want > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(want);
  const int64_t got = s->file_.Read(buffer, n);
  return got < 0 ? 0 : static_cast<size_t>(got);
}

// A failed move reports -1, so libvorbisfile never takes a clamped position for the one it asked.
int OggStream::SeekCallback(void* stream, ogg_int64_t offset, int whence) {
  OggStream* s = static_cast<OggStream*>(stream);
  int origin = DFile::kSeekEnd;
  if (whence == SEEK_SET)
    origin = DFile::kSeekStart;
  else if (whence == SEEK_CUR)
    origin = DFile::kSeekCurrent;
  return s->file_.Seek(origin, static_cast<int64_t>(offset)) ? 0 : -1;
}

int OggStream::CloseCallback(void*) {
  return 0;
}

long OggStream::TellCallback(void* stream) {
  return static_cast<long>(static_cast<OggStream*>(stream)->file_.Tell());
}

bool OggStream::Open(const DFile& source) {
  if (decoder_) return false;
  file_.Close();
  if (!file_.OpenView(source, 0, DFile::kToEnd) || !file_.Seek(DFile::kSeekStart, 0)) {
    file_.Close();
    return false;
  }
  DRef<OggVorbis_File> vf;
  try {
    vf.Alloc(1);
  } catch (const DBadAlloc&) {
    file_.Close();
    return false;
  }
  std::memset(vf.Get(), 0, sizeof(OggVorbis_File));
  const ov_callbacks callbacks = {&OggStream::ReadCallback, &OggStream::SeekCallback,
                                  &OggStream::CloseCallback, &OggStream::TellCallback};
  if (ov_open_callbacks(this, vf.Get(), nullptr, 0, callbacks) != 0) {
    file_.Close();
    return false;
  }
  vorbis_info* info = ov_info(vf.Get(), -1);
  const ogg_int64_t samples = ov_pcm_total(vf.Get(), -1);
  if (!info || samples == OV_EINVAL || info->channels < 1 || info->channels > 255 || info->rate <= 0) {
    ov_clear(vf.Get());
    file_.Close();
    return false;
  }
  decoder_ = vf;
  format_ = MakeStreamPcmFormat(static_cast<uint32_t>(info->channels), static_cast<uint32_t>(info->rate));
  // The total in 32 bits: a longer stream is clamped, never wrapped.
  const uint64_t bytes = samples > 0 ? static_cast<uint64_t>(samples) * format_.nBlockAlign : 0;
  total_ = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
  Rewind();
  return true;
}

int32_t OggStream::Read(void* destination, uint32_t n) {
  if (!decoder_) return -1;
  if (end_ || n == 0) return 0;
  if (n > 0x7FFFFFFFu) n = 0x7FFFFFFFu;
  uint8_t* out = static_cast<uint8_t*>(destination);
  uint32_t copied = 0;
  while (copied < n) {
    if (left_ <= 0) {
      int section = 0;
      long r;
      // A hole (lost or damaged pages) is skipped; any other failure ends the stream.
      do {
        r = ov_read(decoder_.Get(), reinterpret_cast<char*>(buffer_), sizeof(buffer_), 0, 2, 1, &section);
      } while (r == OV_HOLE);
      if (r <= 0) {
        end_ = 1;
        left_ = 0;
        return static_cast<int32_t>(copied);
      }
      left_ = static_cast<int32_t>(r);
      position_ = 0;
    }
    uint32_t take = n - copied;
    if (take > static_cast<uint32_t>(left_)) take = static_cast<uint32_t>(left_);
    std::memcpy(out + copied, buffer_ + position_, take);
    position_ += take;
    left_ -= static_cast<int32_t>(take);
    copied += take;
  }
  return static_cast<int32_t>(n);
}

void OggStream::Rewind() {
  if (!decoder_) return;
  position_ = 0;
  left_ = 0;
  end_ = 0;
  ov_pcm_seek(decoder_.Get(), 0);
}

void OggStream::Skip(float seconds) {
  if (!decoder_) return;
  const ogg_int64_t now = ov_pcm_tell(decoder_.Get());
  const ogg_int64_t step =
      static_cast<ogg_int64_t>(std::llround(static_cast<double>(format_.nSamplesPerSec) * seconds));
  ov_pcm_seek(decoder_.Get(), now + step);
}

void OggStream::GetWaveFormat(void* format) const {
  std::memcpy(format, &format_, sizeof(format_));
}

bool OggStream::Close() {
  if (!decoder_) return false;
  ov_clear(decoder_.Get());
  decoder_.Release();
  file_.Close();
  format_ = StreamPcmFormat{};
  total_ = 0;
  position_ = 0;
  left_ = 0;
  end_ = 0;
  return true;
}
