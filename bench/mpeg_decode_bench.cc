// The same generated 60 s, 44.1 kHz stereo MP3 decoded to 16-bit PCM by our decoder and by
// libmpg123's generic (plain C) decoder, side by side.
#include <benchmark/benchmark.h>
#include <mpg123.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "media/mpeg/mp3_decoder.h"

namespace {

const std::vector<unsigned char>& Mp3Bytes() {
  static const std::vector<unsigned char> bytes = [] {
    std::vector<unsigned char> v;
    const std::string dir = std::string("/tmp/orvane_mpeg_bench_") + std::to_string(getpid());
    const std::string cmd =
        "mkdir -p " + dir + " && sox -R -n -r 44100 -c 2 -b 16 " + dir +
        "/in.wav synth 60 pinknoise synth 60 sine 100-9000 gain -4 && lame -t --quiet -b 192 " + dir +
        "/in.wav " + dir + "/out.mp3";
    if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) return v;
    FILE* f = std::fopen((dir + "/out.mp3").c_str(), "rb");
    if (f) {
      unsigned char buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) v.insert(v.end(), buf, buf + n);
      std::fclose(f);
    }
    std::system(("rm -rf " + dir).c_str());
    return v;
  }();
  return bytes;
}

void BM_OurDecoder(benchmark::State& state) {
  const auto& data = Mp3Bytes();
  if (data.size() < 156) {
    state.SkipWithError("could not make the MP3 (sox, lame)");
    return;
  }
  auto d = std::make_unique<Mp3Decoder>();
  d->Clear();
  Mp3FrameInfo fi;
  d->GetFrameInfo(data.data(), 156, &fi, false);
  d->SetOptions(Mp3DecodeOptions{0, 0, fi.rate});
  std::vector<uint8_t> out(fi.pcm_bytes);
  size_t total = 0;
  for (auto _ : state) {
    d->InitFromFrame(data.data(), static_cast<uint32_t>(data.size()));
    size_t off = 0;
    total = 0;
    while (off + 4 < data.size()) {
      Mp3DecodeRequest rq;
      rq.input = data.data() + off;
      rq.input_bytes = static_cast<uint32_t>(data.size() - off);
      rq.output = out.data();
      if (!d->DecodeFrame(&rq)) break;
      off += rq.input_bytes;
      total += rq.output_bytes;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["pcm_bytes"] = static_cast<double>(total);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_OurDecoder)->Unit(benchmark::kMillisecond);

void BM_Mpg123Generic(benchmark::State& state) {
  const auto& data = Mp3Bytes();
  if (data.size() < 156 || mpg123_init() != MPG123_OK) {
    state.SkipWithError("no MP3 or no libmpg123");
    return;
  }
  int err = 0;
  mpg123_handle* mh = mpg123_new("generic", &err);
  if (!mh) {
    state.SkipWithError("libmpg123 has no generic decoder");
    return;
  }
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_format_none(mh);
  mpg123_format(mh, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
  std::vector<unsigned char> out(1 << 16);
  size_t total = 0;
  for (auto _ : state) {
    mpg123_open_feed(mh);
    mpg123_feed(mh, data.data(), data.size());
    total = 0;
    for (;;) {
      size_t done = 0;
      const int rc = mpg123_read(mh, out.data(), out.size(), &done);
      total += done;
      if (rc == MPG123_NEW_FORMAT) continue;
      if (rc != MPG123_OK) break;
    }
    mpg123_close(mh);
    benchmark::DoNotOptimize(out.data());
  }
  mpg123_delete(mh);
  state.counters["pcm_bytes"] = static_cast<double>(total);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Mpg123Generic)->Unit(benchmark::kMillisecond);

}  // namespace
