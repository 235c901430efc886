// DirectSound stand-in: the device, secondary and primary buffers, duplicates, position
// notifications and the 3D listener and buffers, all played by the one software mixer
// (platform/mixer.h). Our own declarations, written from what the sound units call.
//
// Buffers hold 8-bit unsigned or 16-bit signed PCM with one or two channels. Duplicates share
// the PCM but each keeps its own cursor, status and 3D state. The mixer runs at its own rate; a
// buffer at that rate with unity gain is copied bit-exactly (8-bit samples as (v - 128) << 8, mono
// to both sides) and sums saturate.
#pragma once

#include "platform/com.h"
#include "platform/kernel.h"
#include "platform/mixer.h"
#include "platform/wave_format.h"

#define DS_OK S_OK
#define DSERR_ALLOCATED MAKE_HRESULT(1, 0x878, 10)
#define DSERR_CONTROLUNAVAIL MAKE_HRESULT(1, 0x878, 30)
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL MAKE_HRESULT(1, 0x878, 50)
#define DSERR_GENERIC E_FAIL
#define DSERR_PRIOLEVELNEEDED MAKE_HRESULT(1, 0x878, 70)
#define DSERR_OUTOFMEMORY E_OUTOFMEMORY
#define DSERR_BADFORMAT MAKE_HRESULT(1, 0x878, 100)
#define DSERR_UNSUPPORTED E_NOTIMPL
#define DSERR_NODRIVER MAKE_HRESULT(1, 0x878, 120)
#define DSERR_NOAGGREGATION CLASS_E_NOAGGREGATION
#define DSERR_BUFFERLOST MAKE_HRESULT(1, 0x878, 150)

// Cooperative levels.
#define DSSCL_NORMAL 1
#define DSSCL_PRIORITY 2
#define DSSCL_EXCLUSIVE 3
#define DSSCL_WRITEPRIMARY 4

// Device capability flags (DSCAPS::dwFlags).
#define DSCAPS_PRIMARYMONO 0x1
#define DSCAPS_PRIMARYSTEREO 0x2
#define DSCAPS_PRIMARY8BIT 0x4
#define DSCAPS_PRIMARY16BIT 0x8
#define DSCAPS_CONTINUOUSRATE 0x10
#define DSCAPS_EMULDRIVER 0x20
#define DSCAPS_CERTIFIED 0x40
#define DSCAPS_SECONDARYMONO 0x100
#define DSCAPS_SECONDARYSTEREO 0x200
#define DSCAPS_SECONDARY8BIT 0x400
#define DSCAPS_SECONDARY16BIT 0x800

// Buffer description flags.
#define DSBCAPS_PRIMARYBUFFER 0x1
#define DSBCAPS_STATIC 0x2
#define DSBCAPS_LOCHARDWARE 0x4
#define DSBCAPS_LOCSOFTWARE 0x8
#define DSBCAPS_CTRL3D 0x10
#define DSBCAPS_CTRLFREQUENCY 0x20
#define DSBCAPS_CTRLPAN 0x40
#define DSBCAPS_CTRLVOLUME 0x80
#define DSBCAPS_CTRLPOSITIONNOTIFY 0x100
#define DSBCAPS_STICKYFOCUS 0x4000
#define DSBCAPS_GLOBALFOCUS 0x8000
#define DSBCAPS_GETCURRENTPOSITION2 0x10000
#define DSBCAPS_MUTE3DATMAXDISTANCE 0x20000
#define DSBCAPS_LOCDEFER 0x40000

#define DSBPLAY_LOOPING 0x1
#define DSBPLAY_LOCHARDWARE 0x2
#define DSBPLAY_LOCSOFTWARE 0x4
#define DSBPLAY_TERMINATEBY_TIME 0x8
#define DSBPLAY_TERMINATEBY_DISTANCE 0x10
#define DSBPLAY_TERMINATEBY_PRIORITY 0x20

#define DSBSTATUS_PLAYING 0x1
#define DSBSTATUS_BUFFERLOST 0x2
#define DSBSTATUS_LOOPING 0x4

#define DSBLOCK_FROMWRITECURSOR 0x1
#define DSBLOCK_ENTIREBUFFER 0x2

#define DSBSIZE_MIN 4
#define DSBSIZE_MAX 0x0FFFFFFF
#define DSBFREQUENCY_MIN 100
#define DSBFREQUENCY_MAX 200000

#define DSBPN_OFFSETSTOP 0xFFFFFFFFu

// 3D settings: applied at once, or held until the listener's CommitDeferredSettings.
#define DS3D_IMMEDIATE 0x0
#define DS3D_DEFERRED 0x1
#define DS3DMODE_NORMAL 0x0
#define DS3DMODE_HEADRELATIVE 0x1
#define DS3DMODE_DISABLE 0x2
#define DS3D_DEFAULTCONEOUTSIDEVOLUME 0
#define DS3D_MINCONEOUTSIDEVOLUME 0
#define DS3D_MAXCONEOUTSIDEVOLUME (-10000)

// The interfaces' identifiers (this layer's own values).
inline constexpr IID IID_IDirectSound = {0x4F52A001, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 1}};
inline constexpr IID IID_IDirectSoundBuffer = {0x4F52A001, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 2}};
inline constexpr IID IID_IDirectSound3DBuffer = {0x4F52A001, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 3}};
inline constexpr IID IID_IDirectSound3DListener = {
    0x4F52A001, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 4}};
inline constexpr IID IID_IDirectSoundNotify = {0x4F52A001, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 5}};

// 3D algorithm of a CTRL3D buffer: accepted and ignored (the mixer has one 3D model, no HRTF).
inline constexpr GUID DS3DALG_DEFAULT = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID DS3DALG_NO_VIRTUALIZATION = {
    0x4F52A002, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 1}};
inline constexpr GUID DS3DALG_HRTF_FULL = {0x4F52A002, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 2}};
inline constexpr GUID DS3DALG_HRTF_LIGHT = {0x4F52A002, 0x5344, 0x4F55, {0x4E, 0x44, 0, 0, 0, 0, 0, 3}};

struct D3DVECTOR {
  float x;
  float y;
  float z;
};
using D3DVALUE = float;

// 96 bytes, as the units size it.
struct DSCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwMinSecondarySampleRate;
  DWORD dwMaxSecondarySampleRate;
  DWORD dwPrimaryBuffers;
  DWORD dwMaxHwMixingAllBuffers;
  DWORD dwMaxHwMixingStaticBuffers;
  DWORD dwMaxHwMixingStreamingBuffers;
  DWORD dwFreeHwMixingAllBuffers;
  DWORD dwFreeHwMixingStaticBuffers;
  DWORD dwFreeHwMixingStreamingBuffers;
  DWORD dwMaxHw3DAllBuffers;
  DWORD dwMaxHw3DStaticBuffers;
  DWORD dwMaxHw3DStreamingBuffers;
  DWORD dwFreeHw3DAllBuffers;
  DWORD dwFreeHw3DStaticBuffers;
  DWORD dwFreeHw3DStreamingBuffers;
  DWORD dwTotalHwMemBytes;
  DWORD dwFreeHwMemBytes;
  DWORD dwMaxContigFreeHwMemBytes;
  DWORD dwUnlockTransferRateHwBuffers;
  DWORD dwPlayCpuOverheadSwBuffers;
  DWORD dwReserved1;
  DWORD dwReserved2;
};
static_assert(sizeof(DSCAPS) == 96, "DSCAPS is 96 bytes");
using LPDSCAPS = DSCAPS*;

struct DSBUFFERDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwBufferBytes;
  DWORD dwReserved;
  LPWAVEFORMATEX lpwfxFormat;
  GUID guid3DAlgorithm;
};
using LPCDSBUFFERDESC = const DSBUFFERDESC*;

struct DSBPOSITIONNOTIFY {
  DWORD dwOffset;
  HANDLE hEventNotify;
};
using LPCDSBPOSITIONNOTIFY = const DSBPOSITIONNOTIFY*;

struct IDirectSoundBuffer;

struct IDirectSound : IUnknown {
  // Makes a buffer: a primary buffer (one per device; no format, size 0) or a secondary buffer
  // of the given PCM format and size. DSERR_INVALIDPARAM for a bad description or format
  // (tag 1, 1-2 channels of 8 or 16 bits, block align = channels x bits / 8, average = rate x
  // block align, 100-200000 Hz, DSBSIZE_MIN-DSBSIZE_MAX bytes) and for CTRL3D on stereo.
  virtual HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, IDirectSoundBuffer** buffer, LPUNKNOWN outer) = 0;
  virtual HRESULT GetCaps(LPDSCAPS caps) = 0;
  // A new buffer sharing the PCM of a secondary buffer, stopped at position 0, with the 3D
  // settings of the original's creation.
  virtual HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* original, IDirectSoundBuffer** duplicate) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD level) = 0;
};
using LPDIRECTSOUND = IDirectSound*;

struct IDirectSoundBuffer : IUnknown {
  // Play cursor and write cursor in bytes.
  virtual HRESULT GetCurrentPosition(LPDWORD play, LPDWORD write) = 0;
  virtual HRESULT GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) = 0;
  virtual HRESULT GetStatus(LPDWORD status) = 0;
  // Gives the bytes from offset (wrapping into a second part at the buffer's end) for writing.
  virtual HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* part1, LPDWORD bytes1, LPVOID* part2,
                       LPDWORD bytes2, DWORD flags) = 0;
  // Starts or goes on playing from the cursor; a notification at the cursor is signalled at once.
  virtual HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) = 0;
  virtual HRESULT SetCurrentPosition(DWORD position) = 0;
  // Primary buffer only: the format is recorded; the mixer keeps its own rate.
  virtual HRESULT SetFormat(const WAVEFORMATEX* format) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Unlock(LPVOID part1, DWORD bytes1, LPVOID part2, DWORD bytes2) = 0;
  // Makes a lost buffer usable again (its bytes must be written anew).
  virtual HRESULT Restore() = 0;
};
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;

struct IDirectSoundNotify : IUnknown {
  // Replaces the buffer's notification positions (a stopped buffer only). An event is signalled
  // when the play cursor reaches or passes its offset while playing, including the offset where
  // Play starts; DSBPN_OFFSETSTOP events when the buffer stops.
  virtual HRESULT SetNotificationPositions(DWORD count, LPCDSBPOSITIONNOTIFY positions) = 0;
};
using LPDIRECTSOUNDNOTIFY = IDirectSoundNotify*;

// A 3D buffer's settings. Positions, velocities and orientations are in DirectSound's axes.
struct IDirectSound3DBuffer : IUnknown {
  virtual HRESULT GetConeAngles(LPDWORD inside, LPDWORD outside) = 0;
  virtual HRESULT GetConeOrientation(D3DVECTOR* orientation) = 0;
  virtual HRESULT GetConeOutsideVolume(LONG* volume) = 0;
  virtual HRESULT GetMaxDistance(D3DVALUE* distance) = 0;
  virtual HRESULT GetMinDistance(D3DVALUE* distance) = 0;
  virtual HRESULT GetMode(LPDWORD mode) = 0;
  virtual HRESULT GetPosition(D3DVECTOR* position) = 0;
  virtual HRESULT GetVelocity(D3DVECTOR* velocity) = 0;
  virtual HRESULT SetConeAngles(DWORD inside, DWORD outside, DWORD apply) = 0;
  virtual HRESULT SetConeOrientation(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) = 0;
  virtual HRESULT SetConeOutsideVolume(LONG volume, DWORD apply) = 0;
  virtual HRESULT SetMaxDistance(D3DVALUE distance, DWORD apply) = 0;
  virtual HRESULT SetMinDistance(D3DVALUE distance, DWORD apply) = 0;
  virtual HRESULT SetMode(DWORD mode, DWORD apply) = 0;
  virtual HRESULT SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) = 0;
  virtual HRESULT SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) = 0;
};
using LPDIRECTSOUND3DBUFFER = IDirectSound3DBuffer*;

// The listener of a device (from its CTRL3D primary buffer). The getters give applied values.
struct IDirectSound3DListener : IUnknown {
  virtual HRESULT CommitDeferredSettings() = 0;
  virtual HRESULT GetDistanceFactor(D3DVALUE* factor) = 0;
  virtual HRESULT GetDopplerFactor(D3DVALUE* factor) = 0;
  virtual HRESULT GetOrientation(D3DVECTOR* front, D3DVECTOR* top) = 0;
  virtual HRESULT GetPosition(D3DVECTOR* position) = 0;
  virtual HRESULT GetRolloffFactor(D3DVALUE* factor) = 0;
  virtual HRESULT GetVelocity(D3DVECTOR* velocity) = 0;
  virtual HRESULT SetDistanceFactor(D3DVALUE factor, DWORD apply) = 0;
  virtual HRESULT SetDopplerFactor(D3DVALUE factor, DWORD apply) = 0;
  virtual HRESULT SetOrientation(D3DVALUE fx, D3DVALUE fy, D3DVALUE fz, D3DVALUE tx, D3DVALUE ty, D3DVALUE tz,
                                 DWORD apply) = 0;
  virtual HRESULT SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) = 0;
  virtual HRESULT SetRolloffFactor(D3DVALUE factor, DWORD apply) = 0;
  virtual HRESULT SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) = 0;
};
using LPDIRECTSOUND3DLISTENER = IDirectSound3DListener*;

using LPDSENUMCALLBACKA = BOOL (*)(GUID* guid, LPCSTR description, LPCSTR module, LPVOID context);

// The default device (guid NULL only). Starts the mixer's sink if none runs.
ORVANE_API HRESULT DirectSoundCreate(const GUID* guid, LPDIRECTSOUND* device, LPUNKNOWN outer);
// Calls back once for the one device: the primary sound driver, with no GUID.
ORVANE_API HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, LPVOID context);

namespace orvane::audio {

// ---- Headless hooks for tests: what the next devices and buffers do.
struct DsoundFaults {
  DWORD caps_flags{};       // GetCaps's flags; 0 keeps the default
  bool fail_create{};       // DirectSoundCreate fails (DSERR_NODRIVER)
  bool fail_cooperative{};  // SetCooperativeLevel fails
  bool fail_caps{};         // GetCaps fails
  bool fail_primary_3d{};   // a CTRL3D primary buffer cannot be made
  bool fail_primary{};      // a primary buffer cannot be made at all
  bool fail_set_format{};   // the primary buffer's SetFormat fails
  bool fail_listener{};     // the listener interface is refused
  DWORD fail_locations{};   // secondary buffers with these location bits (LOCHARDWARE, LOCSOFTWARE, LOCDEFER)
                            // fail
  bool fail_duplicate{};    // DuplicateSoundBuffer fails
  bool fail_notify{};       // the notify interface is refused
};
// Installs the faults (all cleared by a default-constructed record).
ORVANE_AUDIO_API void SetDsoundFaults(const DsoundFaults& faults);
// The device's default caps flags.
ORVANE_AUDIO_API DWORD DefaultDsoundCaps();
// Marks the PCM of a secondary buffer (and its duplicates) lost: they stop, Lock and Play fail
// with DSERR_BUFFERLOST and GetStatus reports DSBSTATUS_BUFFERLOST until Restore.
ORVANE_AUDIO_API void LoseBuffer(IDirectSoundBuffer* buffer);
// The format the last primary buffer's SetFormat recorded (zero before any).
ORVANE_AUDIO_API WAVEFORMATEX LastPrimaryFormat();
// The mixer's gains (1.0 = unity) and rate in Hz that a buffer plays with now.
ORVANE_AUDIO_API void GetBufferMix(IDirectSoundBuffer* buffer, float* left, float* right, float* rate);

}  // namespace orvane::audio
