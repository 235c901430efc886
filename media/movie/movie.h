// The Movie unit: one filter graph per movie, ending in the engine's renderer so that each frame
// lands in a Draw-unit image. The manager lists the open movies, takes the graphs' notification
// message (0x403) from the main window's listener chain, and pauses movies while the engine is
// suspended.
#pragma once

#include <cstdint>

#include "base/dmessagelistener.h"
#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "display/draw/draw_image.h"
#include "platform/dshow.h"

class DWindow;
class Screen;
class MovieManager;

// The graphs' event notification, lParam = the movie.
inline constexpr UINT kMovieGraphNotify = 0x403;

class MovieGraph : public DObject {
 public:
  MovieGraph() = default;
  MovieGraph(const MovieGraph&) = delete;
  MovieGraph& operator=(const MovieGraph&) = delete;
  ~MovieGraph() override;

  // Builds the graph for the file (cp932 path, never from the archive); notifications go to
  // `window`. False, everything released, on any failure, also for a path past 263 bytes' worth
  // of wide characters.
  bool Open(DWindow* window, const char* path, Screen* factory);
  bool Release();
  bool Stop();
  bool Pause();
  bool Play(std::uint32_t loop);
  bool IsPlaying() const { return (flags_ & 1u) != 0; }
  void HandleEvents();
  DRef<DrawImage> GetImage() const { return frame_image_; }
  OAEVENT GetEventHandle();
  // The graph's own run and pause, flags untouched (the manager's suspension).
  void RunGraph() {
    if (control_) control_->Run();
  }
  void PauseGraph() {
    if (control_) control_->Pause();
  }

  MovieManager* manager_ = nullptr;      // set while listed
  DRefList<MovieGraph>::Iterator node_;  // the entry in the manager's list

 private:
  std::uint32_t flags_ = 0;  // bit 0 playing, bit 1 loop
  IGraphBuilder* graph_ = nullptr;
  IMediaControl* control_ = nullptr;
  IMediaSeeking* seeking_ = nullptr;
  IMediaEventEx* events_ = nullptr;
  DRef<DrawImage> frame_image_;
};

class MovieManager : public DMessageListener {
 public:
  MovieManager() = default;
  ~MovieManager() override;

  bool Init(DWindow& window);
  bool Shutdown();
  // A new movie opened on the file; empty on failure.
  DRef<MovieGraph> Open(const char* path, Screen* factory);
  void Remove(MovieGraph& movie);
  bool OnMessage(LRESULT* result, DWindow* window, UINT message, WPARAM wparam, LPARAM lparam) override;
  void SetTimePause(bool on);
  void Suspend();
  void Resume();

  bool IsInitialized() const { return (flags_ & 1u) != 0; }
  bool PauseWhileInactive() const { return (flags_ & 2u) != 0; }
  bool IsInactive() const { return (flags_ & 4u) != 0; }
  std::uint32_t GetCount() const { return movies_.GetCount(); }

 private:
  std::uint32_t flags_ = 0;      // bit 0 initialised, bit 1 pause-while-inactive, bit 2 inactive
  DRefList<MovieGraph> movies_;  // non-owning handles, opening order
};

// The engine's one Movie unit.
MovieManager& MovieUnit();
