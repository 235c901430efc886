// Movies: the built-ins and their export twins over one worker each. A movie always reads the
// disk, archive or not; its frame image is an ordinary image value.
#include "api/api_frame.h"
#include "api/api_path.h"
#include "api/media_common.h"
#include "api/ov_api.h"
#include "media/movie/movie_handle.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

// ---- Workers shared by both faces.

DRef<MovieHandle> LoadMovieWorker(const char* path) {
  char name[kApiPathSize];
  if (!ApiAbsolutePath(path, name)) return {};
  DRef<MovieHandle> movie;
  movie.Alloc(1);
  if (!movie->Load(name)) return {};
  return movie;
}

bool PlayWorker(MovieHandle* m, int32_t loop) {
  return m && m->Play(static_cast<uint32_t>(loop) & 1);
}
bool PauseWorker(MovieHandle* m) {
  return m && m->Pause();
}
bool StopWorker(MovieHandle* m) {
  return m && m->Stop();
}
bool IsPlayingWorker(const MovieHandle* m) {
  return m && m->IsPlaying();
}
// Empty when there is no movie or it has no frame image (sound only, or no Draw-unit screen).
DRef<ImageHandle> ImageWorker(const MovieHandle* m) {
  return m ? m->GetImage() : DRef<ImageHandle>();
}

// ---- Built-ins. Without a current movie the bool ones give false and the others do nothing.

DRef<MovieHandle> CurrentMovie() {
  return DRef<MovieHandle>::Convert(CurrentObjects().movie);
}

bool BiLoadMovie(ScriptContext* ctx) {
  PathArg path(ctx, 1);
  DRef<MovieHandle> movie = LoadMovieWorker(path.text);
  if (!movie) return ReportMediaError(ctx, "ムービーファイルを読み込めません。", path.text), false;
  SetObjectValue(ctx->result(), kScriptMovieData, DRef<void>::Convert(movie));
  return false;
}
bool BiGetMovie(ScriptContext* ctx) {
  return GetBuiltin(ctx, kScriptMovieData, true), false;
}
bool BiSetMovie(ScriptContext* ctx) {
  return SelectBuiltin(ctx, kScriptMovieData, false), false;
}
// True whenever there is a movie, even when its graph refuses to run (IsMoviePlay tells).
bool BiPlayMovie(ScriptContext* ctx) {
  DRef<MovieHandle> m = CurrentMovie();
  if (m) PlayWorker(m.Get(), ctx->GetArg(1)->ToInt());
  ctx->result()->SetBool(static_cast<bool>(m));
  return false;
}
bool BiPauseMovie(ScriptContext* ctx) {
  ctx->result()->SetBool(PauseWorker(CurrentMovie().Get()));
  return false;
}
bool BiStopMovie(ScriptContext* ctx) {
  ctx->result()->SetBool(StopWorker(CurrentMovie().Get()));
  return false;
}
bool BiIsMoviePlay(ScriptContext* ctx) {
  ctx->result()->SetBool(IsPlayingWorker(CurrentMovie().Get()));
  return false;
}
bool BiGetMovieImage(ScriptContext* ctx) {
  DRef<MovieHandle> m = CurrentMovie();
  if (!m) return false;
  DRef<ImageHandle> image = ImageWorker(m.Get());
  if (image)
    SetObjectValue(ctx->result(), kScriptImage, DRef<void>::Convert(image));
  else
    ctx->result()->SetInt(0);
  return false;
}

DRef<MovieHandle> MovieOf(ApiHandle* h, const char* export_name) {
  return ApiHandleAs<MovieHandle>(h, kScriptMovieData, export_name);
}

}  // namespace

ORVANE_START_CODE void InstallMovieBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {95, Guarded<BiLoadMovie>},    {96, Guarded<BiGetMovie>},       {97, Guarded<BiSetMovie>},
      {98, Guarded<BiPlayMovie>},    {99, Guarded<BiPauseMovie>},     {100, Guarded<BiStopMovie>},
      {143, Guarded<BiIsMoviePlay>}, {101, Guarded<BiGetMovieImage>},
  };
  for (const auto& row : table) SetVmBuiltin(row.n, row.h);
}

// ---- Exports. No exception leaves one: a failure gives the export's failure value.

ApiHandle* ovLoadMovie(const char* path) noexcept {
  try {
    return NewApiHandle(kScriptMovieData, DRef<void>::Convert(LoadMovieWorker(path)));
  } catch (...) {
    return nullptr;
  }
}
void ovDestroyMovie(ApiHandle* movie) noexcept {
  DestroyApiHandle(movie, kScriptMovieData, "ovDestroyMovie");
}
int32_t ovPlayMovie(ApiHandle* movie, int32_t loop) noexcept {
  try {
    return PlayWorker(MovieOf(movie, "ovPlayMovie").Get(), loop) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovPauseMovie(ApiHandle* movie) noexcept {
  try {
    return PauseWorker(MovieOf(movie, "ovPauseMovie").Get()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovStopMovie(ApiHandle* movie) noexcept {
  try {
    return StopWorker(MovieOf(movie, "ovStopMovie").Get()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovIsMoviePlay(ApiHandle* movie) noexcept {
  try {
    return IsPlayingWorker(MovieOf(movie, "ovIsMoviePlay").Get()) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
ApiHandle* ovGetMovieImage(ApiHandle* movie) noexcept {
  try {
    return NewApiHandle(kScriptImage,
                        DRef<void>::Convert(ImageWorker(MovieOf(movie, "ovGetMovieImage").Get())));
  } catch (...) {
    return nullptr;
  }
}
