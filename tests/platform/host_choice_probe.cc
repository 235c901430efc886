// Prints the host that a run chose and whether a windowing library got mapped, for
// host_choice_test.sh: "<host> sdl-mapped" or "<host> no-sdl".
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/host.h"

int main() {
  const char* host = orvane::host::CurrentName();
  HWND w = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                           nullptr);
  std::ifstream maps("/proc/self/maps");
  bool sdl = false;
  for (std::string line; std::getline(maps, line);)
    if (line.find("libSDL2") != std::string::npos || line.find("libX11") != std::string::npos) sdl = true;
  std::printf("%s %s\n", host, sdl ? "sdl-mapped" : "no-sdl");
  if (w) DestroyWindow(w);
  return 0;
}
