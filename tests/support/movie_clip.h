// Short movie clips made by the ffmpeg tool for the movie tests, and ffmpeg's own decoding of
// them to raw frames (the reference the graph's frames are compared with).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/support/scratch_dir.h"

namespace orvane_test {

// Runs ffmpeg quietly with `args`; true when it succeeded.
inline bool RunFfmpeg(const std::string& args) {
  std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A lossless RGB clip of testsrc at w x h, `rate` frames per second, `seconds` long; with a
// 440 Hz sine track when `sound` is set.
inline bool MakeTestClip(const std::string& path, int w, int h, int rate, double seconds, bool sound,
                         const std::string& codec = "-c:v ffv1 -pix_fmt bgr0") {
  std::string video = "-f lavfi -i testsrc=size=" + std::to_string(w) + "x" + std::to_string(h) +
                      ":rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds);
  std::string audio =
      sound ? " -f lavfi -i sine=frequency=440:sample_rate=22050:duration=" + std::to_string(seconds) +
                  " -c:a pcm_s16le"
            : "";
  return RunFfmpeg(video + audio + " " + codec + " " + path);
}

// Every frame of the clip as ffmpeg converts it to `pix_fmt` (e.g. "rgb565le"), top-down rows.
inline std::string ReferenceFrames(const std::string& clip, const std::string& pix_fmt,
                                   const ScratchDir& dir) {
  std::string out = dir.Path("reference_" + pix_fmt + ".raw");
  if (!RunFfmpeg("-i " + clip + " -an -f rawvideo -pix_fmt " + pix_fmt + " " + out)) return "";
  return ScratchDir::ReadPath(out);
}

}  // namespace orvane_test
