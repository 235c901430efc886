// The Net unit's line and data taking over a real loopback connection: a raw peer sends the
// input's bytes and closes; the net takes lines and numbers of data in the order the input's
// first bytes choose until it is in error. Lines never hold a line end, CR or NUL; data reads
// give exactly what was asked; the taking always ends.
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"

namespace {

DApplication* g_app;
DRef<CNet> g_listener;
int32_t g_port;

bool Setup() {
  g_app = new DApplication;
  g_app->Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  DSetApplication(g_app);
  if (!MainWindow().Create() || !NetManager().Init()) return false;
  for (g_port = 45000; g_port < 65000; ++g_port) {
    NetManager().Bind(&g_listener, g_port, 5);
    if (g_listener) return true;
  }
  return false;
}

void Pump() {
  DPumpMessages();
  timespec t{0, 100000};
  nanosleep(&t, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Setup();
  if (!ready) std::abort();
  if (size < 1) return 0;
  const uint8_t plan = data[0];
  ws::SOCKET peer = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
  ws::sockaddr_in a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(static_cast<uint16_t>(g_port));
  a.sin_addr.s_addr = ws::inet_addr("127.0.0.1");
  if (ws::connect(peer, reinterpret_cast<ws::sockaddr*>(&a), sizeof(a)) != 0) std::abort();
  for (int i = 0; i < 20000 && !g_listener->IsAcceptWaiting(); ++i) Pump();
  DRef<CNet> n;
  NetManager().Accept(*g_listener, &n, false);
  if (!n) std::abort();
  n->SetWaitMode(0);
  size_t sent = 0;
  while (sent < size - 1) {
    int r =
        ws::send(peer, reinterpret_cast<const char*>(data + 1 + sent), static_cast<int>(size - 1 - sent), 0);
    if (r <= 0) std::abort();
    sent += static_cast<size_t>(r);
  }
  ws::closesocket(peer);
  uint8_t buf[64];
  size_t taken = 0;
  for (int step = 0; !n->IsError(); ++step) {
    if (step > 200000) std::abort();  // the taking must end
    if ((plan >> (step % 8)) & 1) {
      DString line = n->RecvString();
      if (line) {
        const char* t = line.Text();
        if (std::strpbrk(t, "\r\n")) std::abort();
        taken += std::strlen(t);
      }
    } else {
      int32_t count = 1 + (step * 7 + plan) % 32;
      if (n->RecvData(buf, count)) taken += static_cast<size_t>(count);
    }
    Pump();
  }
  if (taken > size - 1) std::abort();
  n->Close();
  return 0;
}
