// The movie object that scripts and plug-ins hold: one movie and an image handle over its frame
// image, so that the current frame draws like any image.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "display/draw/image_handle.h"
#include "media/movie/movie.h"

class MovieHandle : public DObject {
 public:
  MovieHandle() = default;
  ~MovieHandle() override { Release(); }

  // Opens the file through the Movie unit with the Draw-unit screen as image factory (none when
  // the Draw unit is not running).
  bool Load(const char* path);
  // Returns the graph's result (false when the graph cannot run).
  bool Play(std::uint32_t loop);
  bool Pause();
  bool Stop();
  bool IsPlaying() const { return movie_ && movie_->IsPlaying(); }
  // A new handle to the image handle object; empty when the movie has no frame image.
  DRef<ImageHandle> GetImage() const { return image_; }
  bool Release() {
    image_.Release();
    movie_.Release();
    return true;
  }

 private:
  DRef<MovieGraph> movie_;
  DRef<ImageHandle> image_;
};
