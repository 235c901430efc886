// Movie playback in the shape of a filter graph: the graph object (build, run/pause/stop, seek,
// events), the media-type records, and small base classes for a video renderer filter, its input
// pin, a sample allocator and a media sample. Our own declarations, written from what the movie
// unit calls. Demuxing and decoding (FFmpeg) live in a module of their own, libplatform_media.so,
// loaded by the first RenderFile; this library never links a media library.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/com.h"
#include "platform/gdi.h"
#include "platform/mediatypes.h"
#include "platform/wintypes.h"

#define ORVANE_DSHOW_API __attribute__((visibility("default")))
#ifndef ORVANE_API
#define ORVANE_API extern "C" __attribute__((visibility("default")))
#endif

using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using REFERENCE_TIME = LONGLONG;  // 100 ns units
using OAEVENT = LONG_PTR;
using OAHWND = LONG_PTR;

#ifndef CP_ACP
#define CP_ACP 0u
#endif
// Converts cp932 text to UTF-16. wide_count 0 asks for the size needed (terminator included when
// count is -1). Returns the characters written, 0 on failure (a buffer too small included).
ORVANE_API int MultiByteToWideChar(UINT code_page, DWORD flags, const char* text, int count, LPWSTR wide,
                                   int wide_count);

#define CLSCTX_INPROC_SERVER 0x1u
ORVANE_API HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                    void** object);

// ---- Result codes.
#define VFW_S_PARTIAL_RENDER static_cast<HRESULT>(0x00040242)
#define VFW_E_NOT_COMMITTED static_cast<HRESULT>(0x80040211u)
#define VFW_E_SIZENOTSET static_cast<HRESULT>(0x80040212u)
#define VFW_E_ALREADY_COMMITTED static_cast<HRESULT>(0x8004020Fu)
#define VFW_E_BUFFERS_OUTSTANDING static_cast<HRESULT>(0x80040210u)
#define VFW_E_TIMEOUT static_cast<HRESULT>(0x8004022Eu)
#define VFW_E_CANNOT_RENDER static_cast<HRESULT>(0x80040218u)
#define VFW_E_UNSUPPORTED_STREAM static_cast<HRESULT>(0x80040265u)
#define VFW_E_NOT_FOUND static_cast<HRESULT>(0x80040216u)
#define VFW_E_TYPE_NOT_ACCEPTED static_cast<HRESULT>(0x8004022Au)
#define VFW_E_BADALIGN static_cast<HRESULT>(0x8004020Eu)
#define VFW_E_WRONG_STATE static_cast<HRESULT>(0x80040227u)

// ---- Event codes.
#define EC_COMPLETE 0x01

// ---- Seeking flags.
#define AM_SEEKING_NoPositioning 0x0u
#define AM_SEEKING_AbsolutePositioning 0x1u

// ---- Identifiers.
inline constexpr GUID MEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline constexpr GUID MEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline constexpr GUID FORMAT_VideoInfo = {
    0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr GUID FORMAT_WaveFormatEx = {
    0x05589f81, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline constexpr GUID CLSID_FilterGraph = {
    0xe436ebb3, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IGraphBuilder = {
    0x56a868a9, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IFilterGraph = {
    0x56a8689f, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMediaControl = {
    0x56a868b1, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMediaEventEx = {
    0x56a868c0, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMediaSeeking = {
    0x36b73880, 0xc2c8, 0x11cf, {0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c, 0xef, 0x60}};
inline constexpr GUID IID_IBaseFilter = {
    0x56a86895, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IPin = {
    0x56a86891, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMemInputPin = {
    0x56a8689d, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMemAllocator = {
    0x56a8689c, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID IID_IMediaSample = {
    0x56a8689a, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

// ---- Media types.
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};
using CMediaType = AM_MEDIA_TYPE;

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

// ---- Interfaces.
struct IMediaSample : IUnknown {
  virtual HRESULT GetPointer(BYTE** buffer) = 0;
  virtual LONG GetSize() = 0;
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
  virtual LONG GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(LONG length) = 0;
};

struct IMemAllocator : IUnknown {
  virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Decommit() = 0;
  // Waits (at most one second) for a free sample; flags unused.
  virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                            DWORD flags) = 0;
  virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

struct IPin : IUnknown {
  // The graph connects an upstream output to this pin with one proposed type.
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect() = 0;
};

struct IMemInputPin : IUnknown {
  virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) = 0;
  virtual HRESULT Receive(IMediaSample* sample) = 0;
};

struct IFilterGraph;
struct IBaseFilter : IUnknown {
  // Pin n with one reference added; VFW_E_NOT_FOUND past the last pin.
  virtual HRESULT GetPinAt(int n, IPin** pin) = 0;
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
};

struct IFilterGraph : IUnknown {
  virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
};

struct IGraphBuilder : IFilterGraph {
  virtual HRESULT RenderFile(LPCWSTR path, LPCWSTR play_list) = 0;
};

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
};

struct IMediaSeeking : IUnknown {
  virtual HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG* stop, DWORD stop_flags) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
};

struct IMediaEventEx : IUnknown {
  virtual HRESULT GetEventHandle(OAEVENT* event) = 0;
  // Never blocks with timeout 0; E_ABORT when the queue is empty.
  virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) = 0;
  virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
  virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
};

// ---- Base classes.
class CBaseVideoRenderer;

// A lock with the name the renderer's code uses.
using CCritSec = std::recursive_mutex;
using CAutoLock = std::lock_guard<std::recursive_mutex>;

class CBaseAllocator;

// A sample over memory it does not own; handed back to its allocator when its last reference goes.
class ORVANE_DSHOW_API CMediaSample : public IMediaSample {
 public:
  CMediaSample(const char* name, CBaseAllocator* allocator, HRESULT* hr, BYTE* buffer, LONG length);
  virtual ~CMediaSample() = default;

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override { return length_; }
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  LONG GetActualDataLength() override { return actual_; }
  HRESULT SetActualDataLength(LONG length) override;

 private:
  CBaseAllocator* allocator_;
  BYTE* buffer_;
  LONG length_;
  LONG actual_;
  REFERENCE_TIME start_ = 0, end_ = 0;
  friend class CBaseAllocator;
  std::uint32_t refs_ = 0;  // under the allocator's lock
};

// The bookkeeping of an allocator: properties, commit state and the free list. Subclasses make
// the samples in Alloc and delete them in Free. With an outer object, AddRef and Release are the
// outer object's.
class ORVANE_DSHOW_API CBaseAllocator : public IMemAllocator {
 public:
  CBaseAllocator(const char* name, LPUNKNOWN outer, HRESULT* hr, BOOL event = TRUE,
                 BOOL release_callback = FALSE);
  virtual ~CBaseAllocator();

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;

 protected:
  // Checks the properties: VFW_E_SIZENOTSET before SetProperties, S_FALSE when nothing changed.
  virtual HRESULT Alloc();
  virtual void Free() = 0;

  CCritSec m_cs;
  std::condition_variable_any m_freed;
  std::deque<CMediaSample*> m_lFree;
  LONG m_lAllocated = 0;
  LONG m_lCount = 0;
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  bool m_bCommitted = false;
  bool m_bChanged = false;

 private:
  friend class CMediaSample;
  LPUNKNOWN outer_;
  std::uint32_t refs_ = 0;
};

// An allocator that owns its buffers (the graph's own).
class ORVANE_DSHOW_API CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* hr);
  ~CMemAllocator() override;

 protected:
  HRESULT Alloc() override;
  void Free() override;
};

// The renderer's input pin; its references are the filter's.
class ORVANE_DSHOW_API CRendererInputPin : public IPin, public IMemInputPin {
 public:
  CRendererInputPin(CBaseVideoRenderer* renderer, HRESULT* hr, LPCWSTR name);
  virtual ~CRendererInputPin();

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  // A memory allocator of the pin's own when none is set; one reference handed out.
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  // Takes the allocator (one reference), dropping the previous one.
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL read_only) override;
  HRESULT Receive(IMediaSample* sample) override;

 protected:
  CBaseVideoRenderer* m_pRenderer;
  IMemAllocator* m_pAllocator = nullptr;
  BOOL m_bReadOnly = FALSE;
};

// A video renderer filter: the graph proposes types through its pin (CheckMediaType, then
// SetMediaType) and delivers each due frame to DoRenderSample on the streaming thread.
class ORVANE_DSHOW_API CBaseVideoRenderer : public IBaseFilter {
 public:
  CBaseVideoRenderer(REFCLSID clsid, const char* name, LPUNKNOWN outer, HRESULT* hr);
  virtual ~CBaseVideoRenderer();

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetPinAt(int n, IPin** pin) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  // The override points.
  virtual CRendererInputPin* GetPin(int n);
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  virtual HRESULT SetMediaType(const CMediaType* type);
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;

  // The streaming thread's delivery: DoRenderSample.
  HRESULT Receive(IMediaSample* sample);
  IFilterGraph* GetGraph() const { return m_pGraph; }
  CLSID GetClassID() const { return clsid_; }
  CCritSec& InterfaceLock() { return m_InterfaceLock; }

 protected:
  CCritSec m_InterfaceLock;
  CRendererInputPin* m_pInputPin = nullptr;  // the subclass's pin once GetPin made or recorded it

 private:
  CLSID clsid_;
  std::uint32_t refs_ = 0;
  IFilterGraph* m_pGraph = nullptr;  // not owned
  bool own_pin_ = false;             // m_pInputPin was made by GetPin here
};

namespace orvane::dshow {
// Tests: the graph keeps its own allocator instead of taking the renderer's (the copy path).
ORVANE_DSHOW_API void SetKeepOwnAllocator(bool on);
// Tests: while on, every graph's Run fails (E_FAIL) and the graph keeps its state.
ORVANE_DSHOW_API void SetRunFails(bool on);
}  // namespace orvane::dshow
