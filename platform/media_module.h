// The table of the media module (libplatform_media.so): demuxing, decoding, pixel conversion and
// resampling over FFmpeg, one stream per handle. The graph loads the module on its first
// RenderFile and reaches it only through this table.
#pragma once

#include <cstdint>

namespace orvane::media_module {

enum StreamKind : int { kVideo = 0, kAudio = 1 };
// kUndecodable: the file has such a stream, but no decoder takes it (or its header is hostile).
enum OpenStatus : int { kOpened = 0, kNoStream = 1, kCannotOpen = 2, kUndecodable = 3 };

struct StreamInfo {
  int status = kCannotOpen;
  int width = 0, height = 0;   // video
  int channels = 0, rate = 0;  // audio (as coded)
  bool has_audio = false;      // the file has an audio stream (known once it opened)
};

struct Table {
  // Opens the best stream of `kind` of the file (UTF-8 path); null with info->status otherwise.
  void* (*open)(const char* path, int kind, StreamInfo* info);
  void (*close)(void* stream);
  // Video: decodes the next frame. 1 with *pts in 100 ns units, 0 at the end (errors end too).
  int (*next_frame)(void* stream, std::int64_t* pts);
  // Video: converts the last decoded frame to 16-bit RGB (format 6: RGB565, 4: RGB555, little
  // endian) with rows `stride` bytes apart starting at `first_row` (a negative stride writes
  // bottom-up). False when there is no frame.
  bool (*convert)(void* stream, std::uint8_t* first_row, int stride, int format);
  // Audio: up to max_frames frames of 16-bit stereo at `rate`; 0 at the end (errors end too).
  int (*read_audio)(void* stream, std::int16_t* out, int max_frames, int rate);
  // Back to the start, decoders flushed. False when the file cannot seek.
  bool (*rewind)(void* stream);
};

}  // namespace orvane::media_module

// The module's one entry point.
extern "C" const orvane::media_module::Table* OrvaneMediaModule();
