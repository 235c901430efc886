// Test vectors of MPEG audio: signals made with sox and files encoded from them, each made once
// per build directory under mpeg_vectors/.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace mpeg_vectors {

inline const std::string& VectorDir() {
  static const std::string dir = [] {
    std::string d = std::string(ORVANE_BINARY_DIR) + "/mpeg_vectors";
    mkdir(d.c_str(), 0755);
    return d;
  }();
  return dir;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> v;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return v;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) v.insert(v.end(), buf, buf + n);
  std::fclose(f);
  return v;
}

inline bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A test signal of about one second, band-limited to 0.4 x rate, made once per build directory.
// kinds: "tone" (sines and a chirp), "noise" (pink noise and a chirp; "long": two seconds of
// it), "clicks" (noise bursts, near full scale).
inline std::string Signal(const std::string& kind, int rate, int channels) {
  const std::string path =
      VectorDir() + "/" + kind + "_" + std::to_string(rate) + "_" + std::to_string(channels) + ".wav";
  if (Exists(path)) return path;
  // Written under a name of this process, then renamed: test programs may run side by side.
  const std::string tmp = path + "." + std::to_string(getpid()) + ".tmp.wav";
  const std::string head =
      "sox -R -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -b 16 " + tmp + " ";
  const std::string lp = " lowpass " + std::to_string(rate * 4 / 10);
  std::string cmd;
  if (kind == "tone")
    cmd = head + "synth 1 sine 440 sine 300-5000 gain -6 fade 0.05 1 0.05" + lp;
  else if (kind == "long")
    cmd = head + "synth 2 pinknoise synth 2 sine 200-8000 gain -3 fade 0.05 2 0.05" + lp;
  else if (kind == "noise")
    cmd = head + "synth 1 pinknoise synth 1 sine 200-8000 gain -3 fade 0.05 1 0.05" + lp;
  else
    cmd = head + "synth 0.05 whitenoise pad 0 0.2 repeat 3 fade 0.01 1 0.1" + lp + " gain -1";
  if (!Shell(cmd)) return "";
  std::rename(tmp.c_str(), path.c_str());
  return path;
}

// Encodes a signal once per build directory; the file name carries the settings.
inline std::string Encode(const std::string& name, const std::string& encoder_command,
                          const std::string& wav) {
  const std::string out = VectorDir() + "/" + name;
  if (Exists(out)) return out;
  const std::string tmp = out + "." + std::to_string(getpid()) + ".tmp";
  if (wav.empty() || !Shell(encoder_command + " " + wav + " " + tmp)) return "";
  std::rename(tmp.c_str(), out.c_str());
  return out;
}

}  // namespace mpeg_vectors
