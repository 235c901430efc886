// Movie handles.
#include "media/movie/movie_handle.h"

#include "display/draw/screen.h"

bool MovieHandle::Load(const char* path) {
  // Without a running Draw unit (TSS mode) there is no pixel format: the renderer then accepts
  // no video and the movie plays its sound only.
  Screen& screen = DrawScreen();
  movie_ = MovieUnit().Open(path, screen.GetOwner() ? &screen : nullptr);
  if (!movie_) {
    Release();
    return false;
  }
  image_.Release();
  DRef<DrawImage> frame = movie_->GetImage();
  // Without a frame image (sound only, or no Draw-unit format) there is nothing to draw.
  if (frame) {
    image_.Alloc(1);
    image_->Attach(DRef<ConnectedImage>::Convert(frame));
    image_->Reset();
  }
  return true;
}

bool MovieHandle::Play(std::uint32_t loop) {
  return movie_ && movie_->Play(loop);
}

bool MovieHandle::Pause() {
  return movie_ && movie_->Pause();
}

bool MovieHandle::Stop() {
  return movie_ && movie_->Stop();
}
