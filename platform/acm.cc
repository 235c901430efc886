// The audio compression manager's calls: the driver table and conversion streams.
#include "platform/acm.h"

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

namespace orvane::acm {
namespace {

struct Stream {
  std::shared_ptr<Driver> driver;
  std::unique_ptr<Decoder> decoder;
};

struct Registry {
  std::mutex lock;
  std::vector<std::shared_ptr<Driver>> drivers;
  std::set<Stream*> streams;  // open streams, so a stale handle is refused
};

Registry& R() {
  static Registry* r = [] {
    Registry* reg = new Registry;
    reg->drivers = {MakeMsAdpcmDriver(), MakeImaAdpcmDriver(), MakeG711Driver(WAVE_FORMAT_ALAW),
                    MakeG711Driver(WAVE_FORMAT_MULAW)};
    return reg;
  }();
  return *r;
}

std::shared_ptr<Driver> Find(WORD tag) {
  Registry& r = R();
  std::lock_guard<std::mutex> l(r.lock);
  for (auto it = r.drivers.rbegin(); it != r.drivers.rend(); ++it) {
    if ((*it)->Tag() == tag) return *it;
  }
  return nullptr;
}

Stream* Lookup(HACMSTREAM h) {
  Registry& r = R();
  std::lock_guard<std::mutex> l(r.lock);
  Stream* s = reinterpret_cast<Stream*>(h);
  return r.streams.count(s) ? s : nullptr;
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
         a.nAvgBytesPerSec == b.nAvgBytesPerSec && a.nBlockAlign == b.nBlockAlign &&
         a.wBitsPerSample == b.wBitsPerSample;
}

}  // namespace

void RegisterDriver(std::shared_ptr<Driver> driver) {
  if (!driver) return;
  Registry& r = R();
  std::lock_guard<std::mutex> l(r.lock);
  r.drivers.push_back(std::move(driver));
}

}  // namespace orvane::acm

using orvane::acm::Lookup;

MMRESULT acmFormatSuggest(HACMDRIVER driver, LPWAVEFORMATEX src, LPWAVEFORMATEX dst, DWORD cb, DWORD flags) {
  if (driver || !src || !dst || cb < 16) return MMSYSERR_INVALPARAM;
  if (flags & ~DWORD{ACM_FORMATSUGGESTF_WFORMATTAG}) return MMSYSERR_NOTSUPPORTED;
  if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && dst->wFormatTag != WAVE_FORMAT_PCM)
    return ACMERR_NOTPOSSIBLE;
  auto d = orvane::acm::Find(src->wFormatTag);
  WAVEFORMATEX pcm{};
  if (!d || !d->Suggest(*src, &pcm)) return ACMERR_NOTPOSSIBLE;
  std::memcpy(dst, &pcm, cb < sizeof(pcm) ? cb : sizeof(pcm));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX src, LPWAVEFORMATEX dst,
                       LPWAVEFILTER filter, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
  if (stream) *stream = nullptr;
  if (driver || !src || !dst || filter || callback) return MMSYSERR_INVALPARAM;
  if (!stream && !(flags & ACM_STREAMOPENF_QUERY)) return MMSYSERR_INVALPARAM;
  auto d = orvane::acm::Find(src->wFormatTag);
  WAVEFORMATEX pcm{};
  if (!d || !d->Suggest(*src, &pcm) || !orvane::acm::SameFormat(pcm, *dst)) return ACMERR_NOTPOSSIBLE;
  if (flags & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;
  auto s = std::make_unique<orvane::acm::Stream>();
  s->driver = d;
  s->decoder = d->Open(*src, pcm);
  if (!s->decoder) return ACMERR_NOTPOSSIBLE;
  auto& r = orvane::acm::R();
  std::lock_guard<std::mutex> l(r.lock);
  r.streams.insert(s.get());
  *stream = reinterpret_cast<HACMSTREAM>(s.release());
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, LPDWORD output, DWORD flags) {
  orvane::acm::Stream* s = Lookup(stream);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!output || flags > ACM_STREAMSIZEF_DESTINATION) return MMSYSERR_INVALPARAM;
  DWORD n = flags == ACM_STREAMSIZEF_SOURCE ? s->decoder->OutputSize(input) : s->decoder->InputSize(input);
  if (n == 0) return ACMERR_NOTPOSSIBLE;
  *output = n;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  if (!Lookup(stream)) return MMSYSERR_INVALHANDLE;
  if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER) || !header->pbSrc || !header->pbDst) {
    return MMSYSERR_INVALPARAM;
  }
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  orvane::acm::Stream* s = Lookup(stream);
  if (!s) return MMSYSERR_INVALHANDLE;
  if (!header || header->cbStruct < sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  header->fdwStatus &= ~DWORD{ACMSTREAMHEADER_STATUSF_DONE};
  DWORD used = 0, made = 0;
  bool ok = s->decoder->Convert(header->pbSrc, header->cbSrcLength, &used, header->pbDst, header->cbDstLength,
                                &made);
  header->cbSrcLengthUsed = used;
  header->cbDstLengthUsed = made;
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return ok ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD) {
  if (!Lookup(stream)) return MMSYSERR_INVALHANDLE;
  if (!header) return MMSYSERR_INVALPARAM;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  header->fdwStatus &= ~DWORD{ACMSTREAMHEADER_STATUSF_PREPARED};
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD) {
  auto& r = orvane::acm::R();
  std::unique_ptr<orvane::acm::Stream> s;
  {
    std::lock_guard<std::mutex> l(r.lock);
    auto* p = reinterpret_cast<orvane::acm::Stream*>(stream);
    if (!r.streams.erase(p)) return MMSYSERR_INVALHANDLE;
    s.reset(p);
  }
  return MMSYSERR_NOERROR;
}
