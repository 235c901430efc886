// The Movie unit and its movies.
#include "media/movie/movie.h"

#include "base/dwindow.h"
#include "media/movie/movie_renderer.h"

namespace {
constexpr int kMaxWidePath = 264;  // wide characters, terminator included

template <class T>
void ReleaseInterface(T*& p) {
  if (p) p->Release();
  p = nullptr;
}
}  // namespace

// ---- MovieGraph.

MovieGraph::~MovieGraph() {
  Release();
}

bool MovieGraph::Open(DWindow* window, const char* path, Screen* factory) {
  if (graph_) return false;
  flags_ = 0;
  if (!path) return false;
  WCHAR wide[kMaxWidePath];
  // A path that does not fit is refused rather than cut.
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kMaxWidePath) <= 0) return false;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph_))) ||
      !graph_) {
    graph_ = nullptr;
    return false;
  }
  HRESULT hr = S_OK;
  auto* renderer = new MovieRenderer(factory, &hr);
  renderer->AddRef();
  bool ok =
      SUCCEEDED(graph_->AddFilter(renderer, u"Renderer")) && SUCCEEDED(graph_->RenderFile(wide, nullptr));
  if (ok) {
    frame_image_ = renderer->GetFrameImage();
    ok = SUCCEEDED(graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_))) &&
         SUCCEEDED(graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events_))) &&
         SUCCEEDED(graph_->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking_))) &&
         SUCCEEDED(events_->SetNotifyWindow(reinterpret_cast<OAHWND>(window ? window->GetHandle() : nullptr),
                                            static_cast<LONG>(kMovieGraphNotify),
                                            reinterpret_cast<LONG_PTR>(this)));
  }
  renderer->Release();  // the graph keeps it
  if (!ok) {
    Release();
    return false;
  }
  return true;
}

bool MovieGraph::Release() {
  flags_ = 0;
  if (manager_) {
    manager_->Remove(*this);
    manager_ = nullptr;
  }
  Stop();
  if (events_) events_->SetNotifyWindow(0, 0, 0);
  // Seeking, events, control, then the graph, whose release joins the streaming thread before
  // the renderer goes; the frame image handle is dropped last so that no frame is written into an
  // image that is gone (a script's own handle keeps it alive beyond this).
  ReleaseInterface(seeking_);
  ReleaseInterface(events_);
  ReleaseInterface(control_);
  ReleaseInterface(graph_);
  frame_image_.Release();
  return true;
}

bool MovieGraph::Stop() {
  if (control_ && FAILED(control_->Stop())) return false;
  flags_ &= ~1u;
  LONGLONG zero = 0;
  if (seeking_ && FAILED(seeking_->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr,
                                                AM_SEEKING_NoPositioning)))
    return false;
  return true;
}

bool MovieGraph::Pause() {
  if (!control_ || FAILED(control_->Pause())) return false;
  flags_ &= ~1u;
  return true;
}

bool MovieGraph::Play(std::uint32_t loop) {
  flags_ = (flags_ & ~2u) | ((loop & 1u) << 1) | 1u;
  if (manager_ && manager_->IsInactive() && manager_->PauseWhileInactive()) return true;
  if (!control_ || FAILED(control_->Run())) {
    flags_ &= ~1u;
    return false;
  }
  return true;
}

void MovieGraph::HandleEvents() {
  if (!events_) return;
  LONG code;
  LONG_PTR p1, p2;
  while (events_ && SUCCEEDED(events_->GetEvent(&code, &p1, &p2, 0))) {
    events_->FreeEventParams(code, p1, p2);
    if (code != EC_COMPLETE) continue;
    LONGLONG zero = 0;
    if (flags_ & 2u) {
      if (!seeking_ || FAILED(seeking_->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr,
                                                     AM_SEEKING_NoPositioning))) {
        if (control_ && SUCCEEDED(control_->Stop())) {
          flags_ &= ~1u;
          if (SUCCEEDED(control_->Run())) flags_ |= 1u;
        }
      }
    } else {
      flags_ &= ~1u;
      if (control_ && SUCCEEDED(control_->Stop()) && seeking_)
        seeking_->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    }
  }
}

OAEVENT MovieGraph::GetEventHandle() {
  OAEVENT e = 0;
  if (!events_ || FAILED(events_->GetEventHandle(&e))) return 0;
  return e;
}

// ---- MovieManager.

MovieManager::~MovieManager() {
  Shutdown();
}

bool MovieManager::Init(DWindow& window) {
  if (flags_ & 1u) return false;
  flags_ |= 3u;
  if (GetOwner() || !window.AddListener(*this)) {
    Shutdown();
    return false;
  }
  return true;
}

bool MovieManager::Shutdown() {
  if (!(flags_ & 1u)) return false;
  while (!movies_.IsEmpty()) {
    DRef<MovieGraph> first = movies_.Front();
    first->Release();  // takes it out of the list
  }
  movies_.Clear();
  flags_ &= ~3u;
  if (GetOwner()) GetOwner()->RemoveListener(*this);
  flags_ = 0;
  return true;
}

DRef<MovieGraph> MovieManager::Open(const char* path, Screen* factory) {
  DRef<MovieGraph> movie;
  movie.Alloc(1);
  if (!movie->Open(GetOwner(), path, factory)) return {};
  movie->manager_ = this;
  DRef<MovieGraph> entry;
  entry.Attach(movie.Get());
  movie->node_ = movies_.PushBack(entry);
  return movie;
}

void MovieManager::Remove(MovieGraph& movie) {
  if (movie.node_.Node()) movies_.Erase(movie.node_);
  movie.node_ = {};
}

bool MovieManager::OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM lparam) {
  if (message != kMovieGraphNotify) return true;
  for (auto it = movies_.Begin(); !(it == movies_.End()); it = it.Next()) {
    if (reinterpret_cast<LPARAM>(it.Value().Get()) == lparam) {
      DRef<MovieGraph> movie = it.Value();
      movie->HandleEvents();
      break;
    }
  }
  *result = 0;
  return false;
}

void MovieManager::SetTimePause(bool on) {
  if (!(flags_ & 1u)) return;
  flags_ = on ? flags_ | 2u : flags_ & ~2u;
  if (!(flags_ & 4u)) return;
  for (auto it = movies_.Begin(); !(it == movies_.End()); it = it.Next()) {
    MovieGraph* m = it.Value().Get();
    if (!m->IsPlaying()) continue;
    if (on)
      m->PauseGraph();
    else
      m->RunGraph();
  }
}

void MovieManager::Suspend() {
  if (!(flags_ & 1u) || (flags_ & 4u)) return;
  flags_ |= 4u;
  if (!(flags_ & 2u)) return;
  for (auto it = movies_.Begin(); !(it == movies_.End()); it = it.Next()) {
    MovieGraph* m = it.Value().Get();
    if (m->IsPlaying()) m->PauseGraph();
  }
}

void MovieManager::Resume() {
  if (!(flags_ & 1u) || !(flags_ & 4u)) return;
  flags_ &= ~4u;
  for (auto it = movies_.Begin(); !(it == movies_.End()); it = it.Next()) {
    MovieGraph* m = it.Value().Get();
    if (m->IsPlaying()) m->RunGraph();
  }
}

MovieManager& MovieUnit() {
  static MovieManager* const unit = new MovieManager;  // lives for the process
  return *unit;
}
