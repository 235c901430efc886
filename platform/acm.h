// Audio compression manager stand-in: format suggestion and conversion streams from compressed
// audio to 16-bit PCM, with drivers for MS ADPCM, IMA ADPCM, A-law and u-law. Other drivers (MPEG
// audio in WAV) are registered by the units that bring them.
#pragma once

#include <memory>

#include "platform/kernel.h"
#include "platform/mixer.h"
#include "platform/wave_format.h"

ORVANE_DECLARE_HANDLE(HACMDRIVER);
ORVANE_DECLARE_HANDLE(HACMSTREAM);
using LPHACMSTREAM = HACMSTREAM*;
struct WAVEFILTER;
using LPWAVEFILTER = WAVEFILTER*;

#define ACMERR_NOTPOSSIBLE 512
#define ACMERR_BUSY 513
#define ACMERR_UNPREPARED 514

#define ACM_FORMATSUGGESTF_WFORMATTAG 0x00010000
#define ACM_FORMATSUGGESTF_NCHANNELS 0x00020000
#define ACM_FORMATSUGGESTF_NSAMPLESPERSEC 0x00040000
#define ACM_FORMATSUGGESTF_WBITSPERSAMPLE 0x00080000
#define ACM_STREAMOPENF_QUERY 0x00000001
#define ACM_STREAMSIZEF_SOURCE 0x00000000
#define ACM_STREAMSIZEF_DESTINATION 0x00000001
#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004
#define ACM_STREAMCONVERTF_START 0x00000010
#define ACM_STREAMCONVERTF_END 0x00000020
#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000

// cbStruct is sizeof(ACMSTREAMHEADER).
struct ACMSTREAMHEADER {
  DWORD cbStruct;
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  LPBYTE pbSrc;
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  LPBYTE pbDst;
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[10];
};
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

// Fills dst (cb bytes) with the PCM format that a driver decodes src to. Only
// ACM_FORMATSUGGESTF_WFORMATTAG with a PCM tag is supported; ACMERR_NOTPOSSIBLE when no driver
// takes src (its tag, or a damaged header).
ORVANE_API MMRESULT acmFormatSuggest(HACMDRIVER driver, LPWAVEFORMATEX src, LPWAVEFORMATEX dst, DWORD cb,
                                     DWORD flags);
// Opens a conversion from src to the PCM format the driver suggests for it (driver must be
// NULL). With ACM_STREAMOPENF_QUERY only checks.
ORVANE_API MMRESULT acmStreamOpen(LPHACMSTREAM stream, HACMDRIVER driver, LPWAVEFORMATEX src,
                                  LPWAVEFORMATEX dst, LPWAVEFILTER filter, DWORD_PTR callback,
                                  DWORD_PTR instance, DWORD flags);
// With ACM_STREAMSIZEF_SOURCE: the PCM bytes that input bytes convert to, never more than
// acmStreamConvert yields (whole source blocks only). With ..._DESTINATION: the source bytes
// whose conversion fits input bytes of PCM. ACMERR_NOTPOSSIBLE for a result of 0.
ORVANE_API MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, LPDWORD output, DWORD flags);
ORVANE_API MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
// Converts the whole source blocks of the header's source that fit its destination; sets the
// used lengths.
ORVANE_API MMRESULT acmStreamConvert(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
ORVANE_API MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, LPACMSTREAMHEADER header, DWORD flags);
ORVANE_API MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);

namespace orvane::acm {

// One open conversion. Every call decodes only bytes inside the source it is given.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // PCM bytes that `source` bytes yield (never more than Convert gives for them).
  virtual DWORD OutputSize(DWORD source) = 0;
  // Source bytes whose PCM fits `output` bytes.
  virtual DWORD InputSize(DWORD output) = 0;
  // Converts whole units of src into dst; stores the bytes used and made. False on a failure.
  virtual bool Convert(const BYTE* src, DWORD src_bytes, DWORD* src_used, BYTE* dst, DWORD dst_bytes,
                       DWORD* dst_used) = 0;
};

// A driver for one format tag.
class Driver {
 public:
  virtual ~Driver() = default;
  virtual WORD Tag() const = 0;
  // The PCM format that src (with its cbSize extra bytes) decodes to; false when src is not a
  // format this driver decodes (a damaged header included).
  virtual bool Suggest(const WAVEFORMATEX& src, WAVEFORMATEX* pcm) = 0;
  // A decoder from src to pcm (as Suggest gave it); null on failure.
  virtual std::unique_ptr<Decoder> Open(const WAVEFORMATEX& src, const WAVEFORMATEX& pcm) = 0;
};

// Adds a driver; a later driver for a tag replaces an earlier one. Thread-safe.
ORVANE_AUDIO_API void RegisterDriver(std::shared_ptr<Driver> driver);

// The built-in drivers (acm_codecs.cc).
std::shared_ptr<Driver> MakeMsAdpcmDriver();
std::shared_ptr<Driver> MakeImaAdpcmDriver();
std::shared_ptr<Driver> MakeG711Driver(WORD tag);

}  // namespace orvane::acm
