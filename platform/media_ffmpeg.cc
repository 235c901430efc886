// The media module over FFmpeg: each handle opens the file on its own and follows one stream (the
// best video or audio stream), so a movie's video and sound are read independently.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/media_module.h"

namespace {

using orvane::media_module::StreamInfo;
using orvane::media_module::Table;

// Frames past this size are refused before any allocation (hostile headers).
constexpr int kMaxDimension = 8192;

struct Stream {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int index = -1;
  int kind = 0;
  bool draining = false;  // the demuxer ended; the decoder is being flushed
  bool ended = false;
  bool have_frame = false;
  // Video conversion.
  SwsContext* sws = nullptr;
  int sws_format = -1;
  std::vector<std::uint8_t> scratch;  // rows that cannot be written in place
  // Audio conversion: converted frames not yet handed out.
  SwrContext* swr = nullptr;
  int swr_rate = 0;
  std::vector<std::int16_t> pending;
  std::size_t pending_pos = 0;  // in samples
};

void Close(void* handle) {
  auto* s = static_cast<Stream*>(handle);
  if (!s) return;
  sws_freeContext(s->sws);
  swr_free(&s->swr);
  av_frame_free(&s->frame);
  av_packet_free(&s->packet);
  avcodec_free_context(&s->codec);
  avformat_close_input(&s->format);
  delete s;
}

void* Open(const char* path, int kind, StreamInfo* info) {
  *info = StreamInfo{};
  av_log_set_level(AV_LOG_QUIET);
  auto* s = new Stream;
  s->kind = kind;
  if (avformat_open_input(&s->format, path, nullptr, nullptr) < 0 ||
      avformat_find_stream_info(s->format, nullptr) < 0) {
    Close(s);
    info->status = orvane::media_module::kCannotOpen;
    return nullptr;
  }
  info->status = orvane::media_module::kNoStream;
  for (unsigned i = 0; i < s->format->nb_streams; ++i) {
    if (s->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) info->has_audio = true;
  }
  const AVCodec* decoder = nullptr;
  AVMediaType type = kind == orvane::media_module::kVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
  s->index = av_find_best_stream(s->format, type, -1, -1, &decoder, 0);
  if (s->index < 0 || !decoder) {
    if (s->index == AVERROR_DECODER_NOT_FOUND) info->status = orvane::media_module::kUndecodable;
    Close(s);
    return nullptr;
  }
  info->status = orvane::media_module::kUndecodable;
  AVStream* st = s->format->streams[s->index];
  s->codec = avcodec_alloc_context3(decoder);
  if (!s->codec || avcodec_parameters_to_context(s->codec, st->codecpar) < 0 ||
      avcodec_open2(s->codec, decoder, nullptr) < 0) {
    Close(s);
    return nullptr;
  }
  if (kind == orvane::media_module::kVideo) {
    if (s->codec->width <= 0 || s->codec->height <= 0 || s->codec->width > kMaxDimension ||
        s->codec->height > kMaxDimension) {
      Close(s);
      return nullptr;
    }
    info->width = s->codec->width;
    info->height = s->codec->height;
  } else {
    if (s->codec->sample_rate <= 0 || s->codec->ch_layout.nb_channels <= 0) {
      Close(s);
      return nullptr;
    }
    info->rate = s->codec->sample_rate;
    info->channels = s->codec->ch_layout.nb_channels;
  }
  s->packet = av_packet_alloc();
  s->frame = av_frame_alloc();
  if (!s->packet || !s->frame) {
    Close(s);
    return nullptr;
  }
  // Only the chosen stream is read.
  for (unsigned i = 0; i < s->format->nb_streams; ++i) {
    if (static_cast<int>(i) != s->index) s->format->streams[i]->discard = AVDISCARD_ALL;
  }
  info->status = orvane::media_module::kOpened;
  return s;
}

// Decodes the next frame of the stream into s->frame; false at the end or on an error.
bool Decode(Stream* s) {
  s->have_frame = false;
  if (s->ended) return false;
  for (;;) {
    int r = avcodec_receive_frame(s->codec, s->frame);
    if (r == 0) {
      s->have_frame = true;
      return true;
    }
    if (r == AVERROR_EOF || (r != AVERROR(EAGAIN))) {
      s->ended = true;
      return false;
    }
    if (s->draining) {
      s->ended = true;
      return false;
    }
    // Feed one packet of the stream.
    for (;;) {
      r = av_read_frame(s->format, s->packet);
      if (r < 0) {
        s->draining = true;
        avcodec_send_packet(s->codec, nullptr);
        break;
      }
      if (s->packet->stream_index != s->index) {
        av_packet_unref(s->packet);
        continue;
      }
      r = avcodec_send_packet(s->codec, s->packet);
      av_packet_unref(s->packet);
      if (r < 0 && r != AVERROR(EAGAIN)) {
        // A damaged packet: skip it and go on with the next.
        continue;
      }
      break;
    }
  }
}

int NextFrame(void* handle, std::int64_t* pts) {
  auto* s = static_cast<Stream*>(handle);
  if (!Decode(s)) return 0;
  AVStream* st = s->format->streams[s->index];
  std::int64_t t = s->frame->best_effort_timestamp;
  if (t == AV_NOPTS_VALUE) t = s->frame->pts;
  if (t == AV_NOPTS_VALUE) t = 0;
  if (st->start_time != AV_NOPTS_VALUE) t -= st->start_time;
  *pts = av_rescale_q(t, st->time_base, AVRational{1, 10000000});
  if (*pts < 0) *pts = 0;
  return 1;
}

bool Convert(void* handle, std::uint8_t* first_row, int stride, int format) {
  auto* s = static_cast<Stream*>(handle);
  if (!s->have_frame) return false;
  AVFrame* f = s->frame;
  if (f->width != s->codec->width || f->height != s->codec->height) return false;
  AVPixelFormat out = format == 4 ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_RGB565LE;
  s->sws = sws_getCachedContext(s->sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                                f->height, out, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!s->sws) return false;
  // The converter writes whole vector widths: rows narrower than the rounded-up width, or
  // unaligned ones, are converted into a buffer of its own and copied row by row.
  const int row = f->width * 2;
  const int safe = FFALIGN(row, 64);
  const int pitch = stride < 0 ? -stride : stride;
  if (pitch >= safe && pitch % 16 == 0 && reinterpret_cast<std::uintptr_t>(first_row) % 16 == 0) {
    std::uint8_t* dst[4] = {first_row, nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    return sws_scale(s->sws, f->data, f->linesize, 0, f->height, dst, strides) == f->height;
  }
  if (pitch < row) return false;
  s->scratch.resize(std::size_t(safe) * f->height + 64);
  std::uint8_t* base = s->scratch.data();
  base += (64 - reinterpret_cast<std::uintptr_t>(base) % 64) % 64;
  std::uint8_t* dst[4] = {base, nullptr, nullptr, nullptr};
  int strides[4] = {safe, 0, 0, 0};
  if (sws_scale(s->sws, f->data, f->linesize, 0, f->height, dst, strides) != f->height) return false;
  for (int y = 0; y < f->height; ++y) {
    std::memcpy(first_row + std::ptrdiff_t(y) * stride, base + std::size_t(y) * safe, std::size_t(row));
  }
  return true;
}

int ReadAudio(void* handle, std::int16_t* out, int max_frames, int rate) {
  auto* s = static_cast<Stream*>(handle);
  int given = 0;
  while (given < max_frames) {
    std::size_t avail = (s->pending.size() - s->pending_pos) / 2;
    if (avail > 0) {
      std::size_t n = std::min<std::size_t>(avail, static_cast<std::size_t>(max_frames - given));
      std::memcpy(out + std::size_t(given) * 2, s->pending.data() + s->pending_pos,
                  n * 2 * sizeof(std::int16_t));
      s->pending_pos += n * 2;
      given += static_cast<int>(n);
      continue;
    }
    if (!Decode(s)) break;
    AVFrame* f = s->frame;
    if (!s->swr || s->swr_rate != rate) {
      swr_free(&s->swr);
      AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
      if (swr_alloc_set_opts2(&s->swr, &stereo, AV_SAMPLE_FMT_S16, rate, &s->codec->ch_layout,
                              s->codec->sample_fmt, s->codec->sample_rate, 0, nullptr) < 0 ||
          swr_init(s->swr) < 0) {
        swr_free(&s->swr);
        s->ended = true;
        break;
      }
      s->swr_rate = rate;
    }
    int room = swr_get_out_samples(s->swr, f->nb_samples);
    if (room <= 0) continue;
    s->pending.resize(std::size_t(room) * 2);
    s->pending_pos = 0;
    std::uint8_t* dst[1] = {reinterpret_cast<std::uint8_t*>(s->pending.data())};
    int got =
        swr_convert(s->swr, dst, room, const_cast<const std::uint8_t**>(f->extended_data), f->nb_samples);
    s->pending.resize(got > 0 ? std::size_t(got) * 2 : 0);
  }
  return given;
}

bool Rewind(void* handle) {
  auto* s = static_cast<Stream*>(handle);
  s->pending.clear();
  s->pending_pos = 0;
  s->have_frame = false;
  if (av_seek_frame(s->format, s->index, INT64_MIN, AVSEEK_FLAG_BACKWARD) < 0 &&
      avformat_seek_file(s->format, -1, INT64_MIN, 0, 0, 0) < 0) {
    return false;
  }
  avcodec_flush_buffers(s->codec);
  if (s->swr) {
    swr_free(&s->swr);
    s->swr_rate = 0;
  }
  s->draining = false;
  s->ended = false;
  return true;
}

const Table kTable = {Open, Close, NextFrame, Convert, ReadAudio, Rewind};

}  // namespace

extern "C" __attribute__((visibility("default"))) const Table* OrvaneMediaModule() {
  return &kTable;
}
