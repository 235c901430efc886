// Decoding and converting a 640 x 480 clip: through the movie graph into a Draw-unit frame image
// (the renderer's own allocator, so the conversion writes into the image), side by side with a
// plain libavcodec + libswscale loop over the same file into a buffer of the same layout.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/draw/screen.h"
#include "media/movie/movie.h"
#include "platform/mixer.h"
#include "platform/user.h"

namespace {

constexpr int kW = 640, kH = 480, kFrames = 125;

// The clip, made once with the ffmpeg tool: 5 seconds of testsrc at 25 frames, MPEG-4 part 2.
const std::string& Clip() {
  static const std::string path = [] {
    char dir[] = "/tmp/movie_benchXXXXXX";
    if (!mkdtemp(dir)) return std::string();
    std::string p = std::string(dir) + "/clip.avi";
    std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=640x480:rate=25:duration=5 "
        "-c:v mpeg4 -q:v 3 " +
        p + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? p : std::string();
  }();
  return path;
}

void MovieGraphDecode(benchmark::State& state) {
  setenv("ORVANE_BACKEND", "headless", 0);
  if (Clip().empty()) {
    state.SkipWithError("no ffmpeg clip");
    return;
  }
  static DApplication app;
  static bool started = app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  if (!started) {
    state.SkipWithError("no application");
    return;
  }
  DSetApplication(&app);
  DWindow window;
  window.Create("", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100);
  Screen screen;
  MovieManager movies;
  if (!screen.Init(window) || !movies.Init(window)) {
    state.SkipWithError("no screen");
    return;
  }
  orvane::audio::UseManualSink(8000);
  for (auto _ : state) {
    DRef<MovieGraph> movie = movies.Open(Clip().c_str(), &screen);
    if (!movie) {
      state.SkipWithError("open failed");
      break;
    }
    movie->Play(0);
    std::vector<std::int16_t> out;
    orvane::audio::StepManualSink(8000 * 6, &out);  // the clock past the end: every frame is due
    // The end arrives as the graph's notification message; GetMessageA blocks until it comes.
    MSG msg;
    while (movie->IsPlaying() && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  orvane::audio::StopSink();
  movies.Shutdown();
  screen.Shutdown();
  window.Destroy();
}
BENCHMARK(MovieGraphDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainFfmpegDecode(benchmark::State& state) {
  if (Clip().empty()) {
    state.SkipWithError("no ffmpeg clip");
    return;
  }
  const int pitch = kW * 2;
  std::vector<std::uint8_t> image(std::size_t(pitch) * kH);
  for (auto _ : state) {
    AVFormatContext* fmt = nullptr;
    avformat_open_input(&fmt, Clip().c_str(), nullptr, nullptr);
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* dec = nullptr;
    int index = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &dec, 0);
    AVCodecContext* ctx = avcodec_alloc_context3(dec);
    avcodec_parameters_to_context(ctx, fmt->streams[index]->codecpar);
    avcodec_open2(ctx, dec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    SwsContext* sws = nullptr;
    auto drain = [&] {
      while (avcodec_receive_frame(ctx, frame) == 0) {
        sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), kW, kH,
                                   AV_PIX_FMT_RGB565LE, SWS_BICUBIC, nullptr, nullptr, nullptr);
        std::uint8_t* dst[4] = {image.data() + std::size_t(pitch) * (kH - 1)};
        int strides[4] = {-pitch};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, strides);
      }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == index) avcodec_send_packet(ctx, pkt);
      av_packet_unref(pkt);
      drain();
    }
    avcodec_send_packet(ctx, nullptr);
    drain();
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(PlainFfmpegDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
