// The base classes of a renderer filter: media samples, allocators, the renderer's input pin and
// the renderer itself, with the reference counting and bookkeeping their subclasses rely on.
#include "platform/dshow.h"

// ---- CMediaSample.

CMediaSample::CMediaSample(const char*, CBaseAllocator* allocator, HRESULT* hr, BYTE* buffer, LONG length)
    : allocator_(allocator), buffer_(buffer), length_(length), actual_(length) {
  if (hr) *hr = S_OK;
}

HRESULT CMediaSample::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample) {
    *object = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() {
  CAutoLock lock(allocator_->m_cs);
  return ++refs_;
}

ULONG CMediaSample::Release() {
  CBaseAllocator* allocator = allocator_;
  ULONG left;
  {
    CAutoLock lock(allocator->m_cs);
    left = refs_ > 0 ? --refs_ : 0;
  }
  if (left == 0) allocator->ReleaseBuffer(this);
  return left;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start || !end) return E_POINTER;
  *start = start_;
  *end = end_;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  start_ = start ? *start : 0;
  end_ = end ? *end : start_;
  return S_OK;
}

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > length_) return E_INVALIDARG;
  actual_ = length;
  return S_OK;
}

// ---- CBaseAllocator.

CBaseAllocator::CBaseAllocator(const char*, LPUNKNOWN outer, HRESULT* hr, BOOL, BOOL) : outer_(outer) {
  if (hr) *hr = S_OK;
}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMemAllocator) {
    *object = static_cast<IMemAllocator*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CBaseAllocator::AddRef() {
  if (outer_) return outer_->AddRef();
  CAutoLock lock(m_cs);
  return ++refs_;
}

ULONG CBaseAllocator::Release() {
  if (outer_) return outer_->Release();
  ULONG left;
  {
    CAutoLock lock(m_cs);
    left = refs_ > 0 ? --refs_ : 0;
  }
  if (left == 0) {
    Decommit();
    delete this;
  }
  return left;
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  CAutoLock lock(m_cs);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != static_cast<LONG>(m_lFree.size())) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cBuffers <= 0 || request->cbBuffer <= 0 || request->cbPrefix < 0) return E_INVALIDARG;
  LONG align = request->cbAlign > 0 ? request->cbAlign : 1;
  if ((align & (align - 1)) != 0) return VFW_E_BADALIGN;
  m_lCount = request->cBuffers;
  m_lSize = request->cbBuffer;
  m_lAlignment = align;
  m_lPrefix = request->cbPrefix;
  m_bChanged = true;
  *actual = {m_lCount, m_lSize, m_lAlignment, m_lPrefix};
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  CAutoLock lock(m_cs);
  *props = {m_lCount, m_lSize, m_lAlignment, m_lPrefix};
  return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
  if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
  if (!m_bChanged && m_lAllocated > 0) return S_FALSE;
  return S_OK;
}

HRESULT CBaseAllocator::Commit() {
  CAutoLock lock(m_cs);
  if (m_bCommitted) return S_OK;
  HRESULT hr = Alloc();
  if (FAILED(hr)) return hr;
  m_bChanged = false;
  m_bCommitted = true;
  return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
  CAutoLock lock(m_cs);
  if (!m_bCommitted) return S_OK;
  m_bCommitted = false;
  m_freed.notify_all();
  // Samples still out are freed when they come back.
  if (m_lAllocated == static_cast<LONG>(m_lFree.size())) Free();
  return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  std::unique_lock<CCritSec> lock(m_cs);
  if (m_bCommitted && m_lFree.empty() && !m_freed.wait_for(lock, std::chrono::seconds(1), [this] {
        return !m_bCommitted || !m_lFree.empty();
      })) {
    return VFW_E_TIMEOUT;
  }
  if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
  CMediaSample* s = m_lFree.front();
  m_lFree.pop_front();
  s->refs_ = 1;
  s->SetActualDataLength(s->GetSize());
  *sample = s;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  CAutoLock lock(m_cs);
  m_lFree.push_back(static_cast<CMediaSample*>(sample));
  m_freed.notify_all();
  if (!m_bCommitted && m_lAllocated == static_cast<LONG>(m_lFree.size())) Free();
  return S_OK;
}

// ---- CMemAllocator.

CMemAllocator::CMemAllocator(const char* name, LPUNKNOWN outer, HRESULT* hr)
    : CBaseAllocator(name, outer, hr, TRUE, FALSE) {}

CMemAllocator::~CMemAllocator() {
  CAutoLock lock(m_cs);
  Free();
}

HRESULT CMemAllocator::Alloc() {
  HRESULT hr = CBaseAllocator::Alloc();
  if (hr != S_OK) return hr;
  Free();
  for (LONG i = 0; i < m_lCount; ++i) {
    BYTE* buffer = new (std::nothrow) BYTE[static_cast<std::size_t>(m_lSize)];
    if (!buffer) {
      Free();
      return E_OUTOFMEMORY;
    }
    m_lFree.push_back(new CMediaSample("sample", this, nullptr, buffer, m_lSize));
    ++m_lAllocated;
  }
  return S_OK;
}

void CMemAllocator::Free() {
  for (CMediaSample* s : m_lFree) {
    BYTE* buffer = nullptr;
    s->GetPointer(&buffer);
    delete[] buffer;
    delete s;
  }
  m_lFree.clear();
  m_lAllocated = 0;
}

// ---- CRendererInputPin.

CRendererInputPin::CRendererInputPin(CBaseVideoRenderer* renderer, HRESULT* hr, LPCWSTR)
    : m_pRenderer(renderer) {
  if (hr) *hr = S_OK;
}

CRendererInputPin::~CRendererInputPin() {
  if (m_pAllocator) m_pAllocator->Release();
}

HRESULT CRendererInputPin::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPin) {
    *object = static_cast<IPin*>(this);
  } else if (iid == IID_IMemInputPin) {
    *object = static_cast<IMemInputPin*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CRendererInputPin::AddRef() {
  return m_pRenderer->AddRef();
}

ULONG CRendererInputPin::Release() {
  return m_pRenderer->Release();
}

HRESULT CRendererInputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(m_pRenderer->InterfaceLock());
  HRESULT hr = m_pRenderer->CheckMediaType(type);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  return m_pRenderer->SetMediaType(type);
}

HRESULT CRendererInputPin::Disconnect() {
  CAutoLock lock(m_pRenderer->InterfaceLock());
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CRendererInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pRenderer->InterfaceLock());
  if (!m_pAllocator) {
    HRESULT hr = S_OK;
    auto* a = new CMemAllocator("allocator", nullptr, &hr);
    a->AddRef();
    m_pAllocator = a;
  }
  m_pAllocator->AddRef();
  *allocator = m_pAllocator;
  return S_OK;
}

HRESULT CRendererInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL read_only) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pRenderer->InterfaceLock());
  allocator->AddRef();
  if (m_pAllocator) m_pAllocator->Release();
  m_pAllocator = allocator;
  m_bReadOnly = read_only;
  return S_OK;
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return m_pRenderer->Receive(sample);
}

// ---- CBaseVideoRenderer.

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID clsid, const char*, LPUNKNOWN, HRESULT* hr) : clsid_(clsid) {
  if (hr) *hr = S_OK;
}

CBaseVideoRenderer::~CBaseVideoRenderer() {
  if (own_pin_) delete m_pInputPin;
}

HRESULT CBaseVideoRenderer::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter) {
    *object = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CBaseVideoRenderer::AddRef() {
  CAutoLock lock(m_InterfaceLock);
  return ++refs_;
}

ULONG CBaseVideoRenderer::Release() {
  ULONG left;
  {
    CAutoLock lock(m_InterfaceLock);
    left = refs_ > 0 ? --refs_ : 0;
  }
  if (left == 0) delete this;
  return left;
}

HRESULT CBaseVideoRenderer::GetPinAt(int n, IPin** pin) {
  if (!pin) return E_POINTER;
  CRendererInputPin* p = GetPin(n);
  if (!p) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = p;
  p->AddRef();
  return S_OK;
}

HRESULT CBaseVideoRenderer::JoinFilterGraph(IFilterGraph* graph, LPCWSTR) {
  CAutoLock lock(m_InterfaceLock);
  m_pGraph = graph;
  return S_OK;
}

CRendererInputPin* CBaseVideoRenderer::GetPin(int n) {
  CAutoLock lock(m_InterfaceLock);
  if (n != 0) return nullptr;
  if (!m_pInputPin) {
    HRESULT hr = S_OK;
    m_pInputPin = new CRendererInputPin(this, &hr, u"In");
    own_pin_ = true;
  }
  return m_pInputPin;
}

HRESULT CBaseVideoRenderer::SetMediaType(const CMediaType*) {
  return S_OK;
}

HRESULT CBaseVideoRenderer::Receive(IMediaSample* sample) {
  return DoRenderSample(sample);
}
