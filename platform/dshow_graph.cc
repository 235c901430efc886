// The filter graph: RenderFile opens the file's video and audio through the media module,
// connects the video to a renderer filter that was added, and one streaming thread per graph
// decodes ahead, delivers each frame when the movie clock reaches it and feeds the sound to the
// mixer. The movie clock is the sound's played position (the mixer's frames for silent movies),
// so the mixer's sinks, the manual one of the tests included, pace the movie.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/cp932.h"
#include "platform/dshow.h"
#include "platform/media_module.h"
#include "platform/mixer.h"
#include "platform/user.h"

namespace {

namespace mm = orvane::media_module;

std::atomic<bool> g_keep_own_allocator{false};
std::atomic<bool> g_fail_run{false};

// The media module beside this library, loaded once; null when it is missing.
const mm::Table* MediaModule() {
  static const mm::Table* const table = []() -> const mm::Table* {
    Dl_info self{};
    std::string dir;
    if (dladdr(reinterpret_cast<void*>(&MediaModule), &self) && self.dli_fname) {
      dir = self.dli_fname;
      std::size_t slash = dir.rfind('/');
      dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    }
    void* module = dlopen((dir + "libplatform_media.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return nullptr;
    using Entry = const mm::Table* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, "OrvaneMediaModule"));
    return entry ? entry() : nullptr;  // the module stays loaded for the rest of the run
  }();
  return table;
}

// UTF-16 (with surrogate pairs) to UTF-8; false on a broken pair.
bool WideToUtf8(LPCWSTR text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; text[i]; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00) {
      std::uint32_t low = text[i + 1];
      if (low < 0xDC00 || low >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c < 0xE000) {
      return false;
    }
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

enum class State { kStopped, kPaused, kRunning };

class FilterGraph;

// The graph's place in the mixer: plays the sound and advances the clock while running.
class MovieSource : public orvane::audio::MixSource {
 public:
  explicit MovieSource(FilterGraph* graph) : graph_(graph) {}
  void Mix(std::int32_t* acc, unsigned frames, unsigned rate) override;

 private:
  FilterGraph* graph_;
};

class FilterGraph final : public IGraphBuilder,
                          public IMediaControl,
                          public IMediaSeeking,
                          public IMediaEventEx {
 public:
  FilterGraph() : source_(this) {}
  ~FilterGraph() { Teardown(); }

  // IUnknown (one object behind every interface).
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IGraphBuilder || iid == IID_IFilterGraph) {
      *object = static_cast<IGraphBuilder*>(this);
    } else if (iid == IID_IMediaControl) {
      *object = static_cast<IMediaControl*>(this);
    } else if (iid == IID_IMediaSeeking) {
      *object = static_cast<IMediaSeeking*>(this);
    } else if (iid == IID_IMediaEventEx) {
      *object = static_cast<IMediaEventEx*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IFilterGraph / IGraphBuilder.
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (!filter) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_);
    if (started_) return VFW_E_WRONG_STATE;
    filter->AddRef();
    filters_.push_back(filter);
    filter->JoinFilterGraph(this, name);
    return S_OK;
  }
  HRESULT RenderFile(LPCWSTR path, LPCWSTR play_list) override;

  // IMediaControl.
  HRESULT Run() override { return g_fail_run.load() ? E_FAIL : SetState(State::kRunning); }
  HRESULT Pause() override { return SetState(State::kPaused); }
  HRESULT Stop() override { return SetState(State::kStopped); }

  // IMediaSeeking: only the start can be sought (the one position a movie goes back to).
  HRESULT SetPositions(LONGLONG* current, DWORD current_flags, LONGLONG*, DWORD) override {
    if ((current_flags & 3u) == AM_SEEKING_NoPositioning) return S_OK;
    if (!current) return E_POINTER;
    if ((current_flags & 3u) != AM_SEEKING_AbsolutePositioning || *current != 0) return E_INVALIDARG;
    std::unique_lock<std::mutex> lock(m_);
    if (!started_) return S_OK;
    std::uint64_t want = ++seek_requested_;
    cv_.notify_all();
    if (!cv_.wait_for(lock, std::chrono::seconds(5), [&] { return seek_done_ >= want; })) return E_FAIL;
    return seek_ok_ ? S_OK : E_FAIL;
  }
  HRESULT GetCurrentPosition(LONGLONG* position) override {
    if (!position) return E_POINTER;
    *position = ClockTime();
    return S_OK;
  }

  // IMediaEventEx.
  HRESULT GetEventHandle(OAEVENT* event) override {
    if (!event) return E_POINTER;
    *event = 0;
    return E_NOTIMPL;
  }
  HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout_ms) override {
    if (!code || !param1 || !param2) return E_POINTER;
    std::unique_lock<std::mutex> lock(ev_m_);
    if (events_.empty() && timeout_ms != 0) {
      ev_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 5000 : timeout_ms),
                      [&] { return !events_.empty(); });
    }
    if (events_.empty()) return E_ABORT;
    *code = events_.front().code;
    *param1 = events_.front().param1;
    *param2 = events_.front().param2;
    events_.pop_front();
    return S_OK;
  }
  HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
  HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override {
    std::lock_guard<std::mutex> lock(ev_m_);
    notify_window_ = reinterpret_cast<HWND>(window);
    notify_message_ = static_cast<UINT>(message);
    notify_instance_ = instance;
    return S_OK;
  }

  // The mixer's side (mixer lock held).
  void Mix(std::int32_t* acc, unsigned frames, unsigned rate) {
    mix_rate_.store(rate, std::memory_order_relaxed);
    if (state_.load(std::memory_order_acquire) != State::kRunning) return;
    unsigned played = frames;
    if (audio_ && !audio_drained_.load(std::memory_order_relaxed)) {
      unsigned take = static_cast<unsigned>(std::min<std::size_t>(frames, ring_count_));
      for (unsigned i = 0; i < take; ++i) {
        acc[2 * i] += ring_[2 * ring_head_];
        acc[2 * i + 1] += ring_[2 * ring_head_ + 1];
        ring_head_ = (ring_head_ + 1) % ring_frames_;
      }
      ring_count_ -= take;
      played = take;
      if (ring_count_ == 0 && audio_eof_.load(std::memory_order_acquire)) {
        audio_drained_.store(true, std::memory_order_release);
        played = frames;  // the mixer's clock goes on for the rest of the video
      }
    }
    clock_frames_ += played;
    clock_rate_ = rate;
    clock_100ns_.store(static_cast<std::int64_t>(clock_frames_ * 10000000ull / (rate ? rate : 1)),
                       std::memory_order_release);
  }

 private:
  struct Event {
    LONG code;
    LONG_PTR param1, param2;
  };

  std::int64_t ClockTime() const { return clock_100ns_.load(std::memory_order_acquire); }

  HRESULT SetState(State s) {
    std::lock_guard<std::mutex> lock(m_);
    if (s == State::kRunning) orvane::audio::EnsureSink();
    state_.store(s, std::memory_order_release);
    cv_.notify_all();
    return S_OK;
  }

  bool ConnectVideo(const mm::Table* mod, const mm::StreamInfo& info);
  void StreamThread();
  void RenderFrame();
  void Rewind();
  void QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  void Teardown();

  std::atomic<ULONG> refs_{1};
  std::vector<IBaseFilter*> filters_;
  const mm::Table* mod_ = nullptr;
  void* video_ = nullptr;
  void* audio_ = nullptr;
  IPin* pin_ = nullptr;  // the connected renderer pin
  IMemInputPin* input_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  int width_ = 0, height_ = 0, format_ = 6, stride_ = 0;
  bool bottom_up_ = true;

  // Streaming state, under m_ (the thread decodes outside it).
  std::mutex m_;
  std::condition_variable cv_;
  std::thread thread_;
  bool started_ = false;
  bool quit_ = false;
  std::atomic<State> state_{State::kStopped};
  std::uint64_t seek_requested_ = 0, seek_done_ = 0;
  bool seek_ok_ = true;
  bool have_frame_ = false, video_eof_ = false, complete_sent_ = false;
  std::int64_t frame_pts_ = 0;

  // Sound ring and clock, under the mixer's lock.
  MovieSource source_;
  std::vector<std::int16_t> ring_;
  std::size_t ring_frames_ = 0, ring_head_ = 0, ring_count_ = 0;
  std::atomic<bool> audio_eof_{false}, audio_drained_{false};
  std::uint64_t clock_frames_ = 0;
  unsigned clock_rate_ = 0;
  std::atomic<std::int64_t> clock_100ns_{0};
  std::atomic<unsigned> mix_rate_{44100};

  // Events.
  std::mutex ev_m_;
  std::condition_variable ev_cv_;
  std::deque<Event> events_;
  HWND notify_window_ = nullptr;
  UINT notify_message_ = 0;
  LONG_PTR notify_instance_ = 0;
};

void MovieSource::Mix(std::int32_t* acc, unsigned frames, unsigned rate) {
  graph_->Mix(acc, frames, rate);
}

bool FilterGraph::ConnectVideo(const mm::Table* mod, const mm::StreamInfo& info) {
  static const GUID kSubtypes[] = {MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555};
  for (IBaseFilter* filter : filters_) {
    IPin* pin = nullptr;
    if (filter->GetPinAt(0, &pin) != S_OK || !pin) continue;
    IMemInputPin* input = nullptr;
    if (FAILED(pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)))) {
      pin->Release();
      continue;
    }
    for (const GUID& subtype : kSubtypes) {
      VIDEOINFOHEADER vih{};
      vih.rcSource = {0, 0, info.width, info.height};
      vih.rcTarget = vih.rcSource;
      vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      vih.bmiHeader.biWidth = info.width;
      vih.bmiHeader.biHeight = info.height;  // bottom-up, as decoders give RGB
      vih.bmiHeader.biPlanes = 1;
      vih.bmiHeader.biBitCount = 16;
      const int dib_stride = (info.width * 2 + 3) & ~3;
      vih.bmiHeader.biSizeImage = static_cast<DWORD>(dib_stride) * static_cast<DWORD>(info.height);
      AM_MEDIA_TYPE mt{};
      mt.majortype = MEDIATYPE_Video;
      mt.subtype = subtype;
      mt.bFixedSizeSamples = TRUE;
      mt.lSampleSize = vih.bmiHeader.biSizeImage;
      mt.formattype = FORMAT_VideoInfo;
      mt.cbFormat = sizeof(vih);
      mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
      if (pin->ReceiveConnection(nullptr, &mt) != S_OK) continue;

      // Allocator negotiation: the renderer's own first, unless a test keeps the graph's.
      IMemAllocator* allocator = nullptr;
      HRESULT hr = S_OK;
      if (g_keep_own_allocator.load()) {
        allocator = new CMemAllocator("graph allocator", nullptr, &hr);
        allocator->AddRef();
      } else if (FAILED(input->GetAllocator(&allocator)) || !allocator) {
        pin->Disconnect();
        break;
      }
      ALLOCATOR_PROPERTIES request{1, static_cast<LONG>(vih.bmiHeader.biSizeImage), 1, 0}, actual{};
      hr = allocator->SetProperties(&request, &actual);
      if (SUCCEEDED(hr)) hr = allocator->Commit();
      if (SUCCEEDED(hr)) hr = input->NotifyAllocator(allocator, FALSE);
      // The stride of the sample's rows: what its buffer holds per row.
      int stride = actual.cbBuffer / info.height;
      if (FAILED(hr) || stride < info.width * 2) {
        allocator->Decommit();
        allocator->Release();
        pin->Disconnect();
        break;
      }
      pin_ = pin;
      input_ = input;
      allocator_ = allocator;
      width_ = info.width;
      height_ = info.height;
      stride_ = stride;
      format_ = subtype == MEDIASUBTYPE_RGB565 ? 6 : 4;
      bottom_up_ = true;
      video_ = nullptr;  // set by the caller
      (void)mod;
      return true;
    }
    input->Release();
    pin->Release();
  }
  return false;
}

HRESULT FilterGraph::RenderFile(LPCWSTR path, LPCWSTR) {
  if (!path) return E_POINTER;
  std::string utf8;
  if (!WideToUtf8(path, &utf8) || utf8.empty()) return E_INVALIDARG;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (started_) return VFW_E_WRONG_STATE;
  }
  const mm::Table* mod = MediaModule();
  if (!mod) return REGDB_E_CLASSNOTREG;
  if (access(utf8.c_str(), R_OK) != 0) return MAKE_HRESULT(1, 7, ERROR_FILE_NOT_FOUND);
  mod_ = mod;

  mm::StreamInfo vinfo, ainfo;
  void* video = mod->open(utf8.c_str(), mm::kVideo, &vinfo);
  if (vinfo.status == mm::kCannotOpen) return VFW_E_UNSUPPORTED_STREAM;
  bool video_refused = vinfo.status == mm::kUndecodable;
  if (video) {
    if (ConnectVideo(mod, vinfo)) {
      video_ = video;
    } else {
      mod->close(video);
      video_refused = true;
    }
  }
  // A file known to have no sound is not opened a second time.
  if (vinfo.has_audio) audio_ = mod->open(utf8.c_str(), mm::kAudio, &ainfo);
  if (!video_ && !audio_) return video_refused ? VFW_E_CANNOT_RENDER : VFW_E_UNSUPPORTED_STREAM;

  if (audio_) {
    unsigned rate = orvane::audio::MixerRate();
    mix_rate_ = rate;
    ring_frames_ = rate;  // one second ahead
    ring_.assign(ring_frames_ * 2, 0);
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    started_ = true;
  }
  orvane::audio::AddSource(&source_);
  thread_ = std::thread([this] { StreamThread(); });
  return video_refused ? VFW_S_PARTIAL_RENDER : S_OK;
}

void FilterGraph::QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  std::lock_guard<std::mutex> lock(ev_m_);
  events_.push_back({code, param1, param2});
  ev_cv_.notify_all();
  if (notify_window_) PostMessageA(notify_window_, notify_message_, 0, notify_instance_);
}

void FilterGraph::Rewind() {
  bool ok = true;
  if (video_) ok = mod_->rewind(video_) && ok;
  if (audio_) ok = mod_->rewind(audio_) && ok;
  have_frame_ = false;
  video_eof_ = false;
  complete_sent_ = false;
  orvane::audio::LockMixer();
  ring_head_ = ring_count_ = 0;
  clock_frames_ = 0;
  clock_100ns_.store(0);
  audio_eof_.store(false);
  audio_drained_.store(false);
  orvane::audio::UnlockMixer();
  seek_ok_ = ok;
}

// Converts the pending frame into the allocator's sample and hands it to the renderer (m_ held).
void FilterGraph::RenderFrame() {
  have_frame_ = false;
  IMediaSample* sample = nullptr;
  if (allocator_->GetBuffer(&sample, nullptr, nullptr, 0) != S_OK || !sample) return;
  BYTE* buffer = nullptr;
  sample->GetPointer(&buffer);
  const std::int64_t need = std::int64_t(stride_) * height_;
  if (buffer && sample->GetSize() >= need) {
    std::uint8_t* first = bottom_up_ ? buffer + std::int64_t(stride_) * (height_ - 1) : buffer;
    if (mod_->convert(video_, first, bottom_up_ ? -stride_ : stride_, format_)) {
      sample->SetActualDataLength(static_cast<LONG>(need));
      REFERENCE_TIME start = frame_pts_;
      sample->SetTime(&start, &start);
      input_->Receive(sample);
    }
  }
  sample->Release();
}

void FilterGraph::StreamThread() {
  std::vector<std::int16_t> chunk(2048 * 2);
  std::unique_lock<std::mutex> lock(m_);
  while (!quit_) {
    if (seek_done_ < seek_requested_) {
      std::uint64_t want = seek_requested_;
      Rewind();
      seek_done_ = want;
      cv_.notify_all();
      continue;
    }
    if (state_.load() == State::kStopped) {
      cv_.wait(lock);
      continue;
    }
    bool busy = false;
    const std::uint64_t generation = seek_requested_;
    if (video_ && !have_frame_ && !video_eof_) {
      std::int64_t pts = 0;
      lock.unlock();
      int r = mod_->next_frame(video_, &pts);
      lock.lock();
      if (generation != seek_requested_ || quit_) continue;  // decoded before a seek: dropped
      if (r == 1) {
        have_frame_ = true;
        frame_pts_ = pts;
      } else {
        video_eof_ = true;
      }
      busy = true;
    }
    if (have_frame_ && ClockTime() >= frame_pts_) {
      RenderFrame();
      busy = true;
    }
    if (audio_ && !audio_eof_.load()) {
      std::size_t room;
      orvane::audio::LockMixer();
      room = ring_frames_ - ring_count_;
      orvane::audio::UnlockMixer();
      if (room >= chunk.size() / 2) {
        unsigned rate = mix_rate_.load();
        lock.unlock();
        int got = mod_->read_audio(audio_, chunk.data(), static_cast<int>(chunk.size() / 2),
                                   static_cast<int>(rate));
        lock.lock();
        if (generation != seek_requested_ || quit_) continue;
        orvane::audio::LockMixer();
        std::size_t tail = (ring_head_ + ring_count_) % ring_frames_;
        for (int i = 0; i < got; ++i) {
          ring_[2 * tail] = chunk[2 * std::size_t(i)];
          ring_[2 * tail + 1] = chunk[2 * std::size_t(i) + 1];
          tail = (tail + 1) % ring_frames_;
        }
        ring_count_ += static_cast<std::size_t>(got);
        if (got == 0) audio_eof_.store(true, std::memory_order_release);
        orvane::audio::UnlockMixer();
        busy = true;
      }
    }
    bool video_done = !video_ || (video_eof_ && !have_frame_);
    bool audio_done = !audio_ || audio_drained_.load();
    if (!complete_sent_ && video_done && audio_done) {
      complete_sent_ = true;
      QueueEvent(EC_COMPLETE, S_OK, 0);
    }
    if (!busy) cv_.wait_for(lock, std::chrono::milliseconds(2));
  }
}

void FilterGraph::Teardown() {
  orvane::audio::RemoveSource(&source_);
  {
    std::lock_guard<std::mutex> lock(m_);
    quit_ = true;
    state_.store(State::kStopped);
    cv_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  if (allocator_) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (pin_) {
    pin_->Disconnect();
    input_->Release();
    pin_->Release();
    pin_ = nullptr;
    input_ = nullptr;
  }
  if (mod_) {
    if (video_) mod_->close(video_);
    if (audio_) mod_->close(audio_);
  }
  video_ = audio_ = nullptr;
  for (IBaseFilter* f : filters_) {
    f->JoinFilterGraph(nullptr, nullptr);
    f->Release();
  }
  filters_.clear();
}

}  // namespace

namespace orvane::dshow {
void SetKeepOwnAllocator(bool on) {
  g_keep_own_allocator.store(on);
}
void SetRunFails(bool on) {
  g_fail_run.store(on);
}
}  // namespace orvane::dshow

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (clsid != CLSID_FilterGraph) return REGDB_E_CLASSNOTREG;
  auto* graph = new FilterGraph;
  HRESULT hr = graph->QueryInterface(iid, object);
  graph->Release();
  return hr;
}

int MultiByteToWideChar(UINT, DWORD, const char* text, int count, LPWSTR wide, int wide_count) {
  if (!text || count < -1 || wide_count < 0) return 0;
  std::size_t length = count == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(count);
  std::string utf8;
  if (!orvane::cp932::ToUtf8(std::string_view(text, length), &utf8, true)) return 0;
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp;
    std::size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    if (i + n > utf8.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  if (wide_count == 0) return static_cast<int>(out.size());
  if (!wide || out.size() > static_cast<std::size_t>(wide_count)) return 0;
  std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}
