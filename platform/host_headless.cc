// The headless host: windows exist only in the window manager, boxes and file dialogs take the
// answers a test scripted (host_common.cc), and the trace keeps what happened.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/host.h"
#include "platform/hostpath.h"

namespace orvane::host {
namespace {

bool HeadlessCreate(HWND, const char*, int, int, int, int, bool) {
  return true;
}

int HeadlessMessageBox(HWND, const char* text_utf8, const char* caption_utf8, UINT type) {
  // Nobody sees a headless box: its text goes to stderr so that a run's messages are not lost.
  std::fprintf(stderr, "[%s] %s\n", caption_utf8 ? caption_utf8 : "", text_utf8 ? text_utf8 : "");
  int id;
  return TakeMessageBoxAnswer(&id) ? id : DefaultButton(type);
}

bool HeadlessFileDialog(bool, const char*, std::string* chosen) {
  std::string answer;
  if (!TakeFileDialogAnswer(&answer) || answer.empty()) return false;
  if (!orvane::HostTextFromEngine(answer, chosen)) *chosen = Cp932ToUtf8(answer);
  return true;
}

// The last picture presented, kept only while ORVANE_CAPTURE names a file; written there at exit.
struct Capture {
  std::mutex lock;
  std::vector<std::uint32_t> pixels;
  int width = 0;
  int height = 0;
  bool at_exit = false;
  bool keep = false;  // kept for the input script's captures
};
Capture& TheCapture() {
  static Capture* c = new Capture;  // lives to the end of the process: read by the exit handler
  return *c;
}

void WriteCaptureAtExit() {
  const char* path = std::getenv("ORVANE_CAPTURE");
  if (path && *path && !WriteCapture(path)) std::fprintf(stderr, "[capture] \"%s\": Write Error\n", path);
}

void HeadlessPresent(HWND, const std::uint32_t* pixels, int w, int h, int pitch, const RECT&) {
  const char* path = std::getenv("ORVANE_CAPTURE");
  Capture& c = TheCapture();
  std::lock_guard<std::mutex> l(c.lock);
  const bool at_exit = path && *path;
  if ((!at_exit && !c.keep) || !pixels || w <= 0 || h <= 0) return;
  c.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
  for (int y = 0; y < h; ++y)
    std::copy_n(pixels + static_cast<std::ptrdiff_t>(y) * (pitch / 4), w,
                c.pixels.begin() + static_cast<std::ptrdiff_t>(y) * w);
  c.width = w;
  c.height = h;
  if (at_exit && !c.at_exit) c.at_exit = std::atexit(WriteCaptureAtExit) == 0;
}

}  // namespace

bool WriteCapture(const char* path) {
  Capture& c = TheCapture();
  std::lock_guard<std::mutex> l(c.lock);
  if (!path || c.width <= 0 || c.height <= 0) return false;
  const std::size_t count = static_cast<std::size_t>(c.width) * static_cast<std::size_t>(c.height);
  if (c.pixels.size() < count) return false;
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  // The whole picture in one buffer and one write: a write call per row costs more than the
  // conversion.
  char header[64];
  const int header_size = std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", c.width, c.height);
  std::vector<unsigned char> file(static_cast<std::size_t>(header_size) + count * 3);
  std::memcpy(file.data(), header, static_cast<std::size_t>(header_size));
  unsigned char* out = file.data() + header_size;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t p = c.pixels[i];
    *out++ = static_cast<unsigned char>(p >> 16);
    *out++ = static_cast<unsigned char>(p >> 8);
    *out++ = static_cast<unsigned char>(p);
  }
  std::setvbuf(f, nullptr, _IONBF, 0);
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  return std::fclose(f) == 0 && ok;
}

void KeepPresentedPicture(bool on) {
  Capture& c = TheCapture();
  std::lock_guard<std::mutex> l(c.lock);
  if (on && !c.keep) {
    c.pixels.clear();  // from now on: a picture of an earlier run is not this run's
    c.width = c.height = 0;
  }
  c.keep = on;
}

bool HasPresentedPicture() {
  Capture& c = TheCapture();
  std::lock_guard<std::mutex> l(c.lock);
  return c.width > 0 && c.height > 0;
}

const HostHooks& HeadlessHost() {
  static const HostHooks hooks = [] {
    HostHooks h{};
    h.name = "headless";
    h.CreateWindow = HeadlessCreate;
    h.MessageBox = HeadlessMessageBox;
    h.FileDialog = HeadlessFileDialog;
    h.PresentSurface = HeadlessPresent;
    return h;
  }();
  return hooks;
}

}  // namespace orvane::host
