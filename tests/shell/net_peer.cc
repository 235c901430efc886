// The second engine of the Net unit tests: connects to the port given, says its greeting, then
// echoes a line, a number, a float and 10000 bytes of data back changed. Exit status 0 on success.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"

namespace {

bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 5000; ++i) {
    DPumpMessages();
    if (done()) return true;
    timespec t{0, 1000000};
    nanosleep(&t, nullptr);
  }
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  DApplication app;
  app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr);
  DSetApplication(&app);
  if (!MainWindow().Create() || !NetManager().Init()) return 3;
  DRef<CNet> n;
  NetManager().Connect(&n, "127.0.0.1", std::atoi(argv[1]), false);
  if (!n) return 4;
  n->SetWaitMode(0);
  if (!PumpUntil([&] { return n->IsConnected() || n->IsError(); }) || !n->IsConnected()) return 5;
  int32_t v = -123456;
  float f = 2.5f;
  if (!n->SendString("こんにちは from peer") || !n->SendData(&v, 4) || !n->SendData(&f, 4)) return 6;
  DString line;
  if (!PumpUntil([&] { return static_cast<bool>(line = n->RecvString()); })) return 7;
  std::string reply = std::string(line.Text()) + "!";
  if (!PumpUntil([&] { return n->RecvData(&v, 4); })) return 8;
  if (!PumpUntil([&] { return n->RecvData(&f, 4); })) return 9;
  std::string data(10000, '\0');
  if (!PumpUntil([&] { return n->RecvData(data.data(), 10000); })) return 10;
  ++v;
  f *= 2;
  std::string back(data.rbegin(), data.rend());
  if (!n->SendString(reply.c_str()) || !n->SendData(&v, 4) || !n->SendData(&f, 4) ||
      !n->SendData(back.data(), 10000)) {
    return 11;
  }
  // Everything out before leaving.
  if (!PumpUntil([&] { return n->SendPending() == 0; })) return 12;
  NetManager().Term();
  MainWindow().Destroy();
  DSetApplication(nullptr);
  return 0;
}
