// Tests of the WinSock stand-in's blocking calls: a thread waiting in one does not hold up other
// sockets' calls or the notifications, and closing the socket (or WSACleanup) wakes the waiting
// call with WSAEINTR.
#include "platform/winsock.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/win32.h"
#include "tests/support/raw_peer.h"

namespace {

constexpr UINT kSocketMessage = WM_USER + 7;

// Ends the whole program when a test has not finished in time: a call stalled behind another
// thread's blocking call never returns, and the test should fail rather than hang.
class Watchdog {
 public:
  explicit Watchdog(int seconds) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock<std::mutex> l(lock_);
      if (!orvane::WaitForNs(cv_, l, int64_t{seconds} * 1000000000, [this] { return done_; })) {
        std::fprintf(stderr, "winsock_test: a socket call stalled for %d s\n", seconds);
        std::_Exit(1);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> l(lock_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// A call made on a thread of its own, with what it returned and the error it left.
struct Caller {
  std::atomic<pid_t> tid{0};
  std::atomic<bool> finished{false};
  long result = 0;
  int error = 0;
  std::thread thread;

  void Start(std::function<long()> call) {
    thread = std::thread([this, call] {
      tid = static_cast<pid_t>(syscall(SYS_gettid));
      result = call();
      error = ws::WSAGetLastError();
      finished = true;
    });
  }
  // Waits until the call sleeps in poll(), i.e. it really blocks (the kernel shows the system
  // call a thread sleeps in); where that cannot be read, gives it a moment.
  void WaitBlocked() {
    while (tid == 0) orvane::SleepForNs(1000000);
    const std::string path = "/proc/self/task/" + std::to_string(tid.load()) + "/syscall";
    for (int i = 0; i < 20000 && !finished; ++i) {
      std::ifstream in(path);
      long number = -1;
      if (!(in >> number)) {
        orvane::SleepForNs(200000000);
        return;
      }
#ifdef SYS_poll
      if (number == SYS_poll) return;
#endif
      if (number == SYS_ppoll) return;
      orvane::SleepForNs(1000000);
    }
  }
  void Join() {
    if (thread.joinable()) thread.join();
  }
  ~Caller() {
    Join();
  }
};

class WinsockBlocking : public ::testing::Test {
 protected:
  void SetUp() override {
    ws::WSADATA data;
    ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
  }
  void TearDown() override {
    for (ws::SOCKET s : open_) ws::closesocket(s);
    if (started_) ws::WSACleanup();
    if (hwnd_) {
      DestroyWindow(hwnd_);
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      }
    }
  }

  // A window for the sockets' notifications (kSocketMessage).
  HWND Window() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "WinsockTest";
    RegisterClassExA(&wc);
    hwnd_ = CreateWindowExA(0, "WinsockTest", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    return hwnd_;
  }
  // Takes the next notification of socket s, waiting for it.
  static MSG Notification(HWND hwnd, ws::SOCKET s) {
    MSG m{};
    while (!PeekMessageA(&m, hwnd, kSocketMessage, kSocketMessage, PM_REMOVE) || m.wParam != s) {
      orvane::SleepForNs(1000000);
    }
    return m;
  }

  ws::sockaddr_in Loopback(uint16_t port) {
    ws::sockaddr_in a{};
    a.sin_family = ws::AF_INET;
    a.sin_port = ws::htons(port);
    a.sin_addr.s_addr = ws::inet_addr("127.0.0.1");
    return a;
  }
  ws::SOCKET Keep(ws::SOCKET s) {
    if (s != ws::INVALID_SOCKET) open_.push_back(s);
    return s;
  }
  void Forget(ws::SOCKET s) { std::erase(open_, s); }
  // A blocking listener on a free loopback port.
  ws::SOCKET Listen(uint16_t* port) {
    for (uint16_t p = static_cast<uint16_t>(43000 + getpid() % 4000); p < 60000; ++p) {
      ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
      ws::sockaddr_in a = Loopback(p);
      if (ws::bind(s, reinterpret_cast<ws::sockaddr*>(&a), sizeof(a)) == 0 && ws::listen(s, 5) == 0) {
        *port = p;
        return Keep(s);
      }
      ws::closesocket(s);
    }
    return ws::INVALID_SOCKET;
  }
  ws::SOCKET Connect(uint16_t port) {
    ws::SOCKET s = Keep(ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP));
    ws::sockaddr_in a = Loopback(port);
    EXPECT_EQ(ws::connect(s, reinterpret_cast<ws::sockaddr*>(&a), sizeof(a)), 0);
    return s;
  }
  // A connected pair of blocking sockets: client and accepted server side.
  void Pair(ws::SOCKET* client, ws::SOCKET* server) {
    uint16_t port = 0;
    ws::SOCKET l = Listen(&port);
    ASSERT_NE(l, ws::INVALID_SOCKET);
    *client = Connect(port);
    *server = Keep(ws::accept(l, nullptr, nullptr));
    ASSERT_NE(*server, ws::INVALID_SOCKET);
  }

  bool started_ = true;
  std::vector<ws::SOCKET> open_;
  HWND hwnd_ = nullptr;
};

// While another thread is blocked in recv or accept, a second pair of sockets sends, receives,
// and gets its FD_READ notification through WSAAsyncSelect.
TEST_F(WinsockBlocking, BlockedCallDoesNotStallOtherSockets) {
  HWND hwnd = Window();
  ASSERT_TRUE(hwnd);

  for (const char* blocked : {"recv", "accept"}) {
    SCOPED_TRACE(blocked);
    ws::SOCKET xc, xs, yc, ys;
    ASSERT_NO_FATAL_FAILURE(Pair(&xc, &xs));
    ASSERT_NO_FATAL_FAILURE(Pair(&yc, &ys));
    uint16_t port = 0;
    ws::SOCKET listener = Listen(&port);
    ASSERT_NE(listener, ws::INVALID_SOCKET);

    const bool on_recv = std::string(blocked) == "recv";
    Caller a;
    char in[8] = {};
    if (on_recv) {
      a.Start([&] { return static_cast<long>(ws::recv(xs, in, sizeof(in), 0)); });
    } else {
      a.Start([&] { return static_cast<long>(ws::accept(listener, nullptr, nullptr)); });
    }
    a.WaitBlocked();
    {
      Watchdog dog(60);
      EXPECT_EQ(ws::send(yc, "ping", 4, 0), 4);
      EXPECT_EQ(orvane_test::RecvExactly(ys, 4), "ping");
      EXPECT_EQ(ws::send(ys, "pong!", 5, 0), 5);
      EXPECT_EQ(orvane_test::RecvExactly(yc, 5), "pong!");
      EXPECT_EQ(ws::WSAAsyncSelect(ys, hwnd, kSocketMessage, ws::FD_READ | ws::FD_CLOSE), 0);
      EXPECT_EQ(ws::send(yc, "x", 1, 0), 1);
      const MSG m = Notification(hwnd, ys);
      EXPECT_EQ(m.lParam, MAKELONG(ws::FD_READ, 0));
      EXPECT_FALSE(a.finished);
    }

    // Now the blocked call completes normally.
    ws::SOCKET fresh = ws::INVALID_SOCKET;
    if (on_recv) {
      EXPECT_EQ(ws::send(xc, "late", 4, 0), 4);
    } else {
      fresh = Connect(port);
    }
    a.Join();
    if (on_recv) {
      EXPECT_EQ(a.result, 4);
      EXPECT_EQ(std::string(in, 4), "late");
    } else {
      ASSERT_NE(static_cast<ws::SOCKET>(a.result), ws::INVALID_SOCKET);
      ws::SOCKET accepted = Keep(static_cast<ws::SOCKET>(a.result));
      EXPECT_EQ(ws::send(fresh, "hi", 2, 0), 2);
      EXPECT_EQ(orvane_test::RecvExactly(accepted, 2), "hi");
    }
  }
}

// A read event the poller takes after a recv has already drained the socket is stale: it must
// neither report the peer's close nor stop the next FD_READ. The receiver spins on recv so that
// it often drains the socket between the poller's wake-up and its handling of the event.
TEST_F(WinsockBlocking, StaleReadEventsReportNoCloseAndLoseNoRead) {
  HWND hwnd = Window();
  ASSERT_TRUE(hwnd);
  ws::SOCKET client, server;
  ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
  ASSERT_EQ(ws::WSAAsyncSelect(server, hwnd, kSocketMessage, ws::FD_READ | ws::FD_CLOSE), 0);
  Watchdog dog(120);
  int closes = 0;
  auto drain = [&] {
    MSG m;
    while (PeekMessageA(&m, hwnd, kSocketMessage, kSocketMessage, PM_REMOVE)) {
      if (LOWORD(m.lParam) == ws::FD_CLOSE) ++closes;
    }
  };
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(ws::send(client, "b", 1, 0), 1);
    char b;
    while (ws::recv(server, &b, 1, 0) != 1) ASSERT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    if (i % 100 == 0) drain();
  }
  orvane::SleepForNs(100000000);  // the poller's last events, handled
  drain();
  EXPECT_EQ(closes, 0);
  // The last recv re-enabled FD_READ: the next byte is told.
  ASSERT_EQ(ws::send(client, "z", 1, 0), 1);
  EXPECT_EQ(Notification(hwnd, server).lParam, MAKELONG(ws::FD_READ, 0));
  // And the real close is told.
  ws::closesocket(client);
  Forget(client);
  MSG m = Notification(hwnd, server);
  while (LOWORD(m.lParam) == ws::FD_READ) m = Notification(hwnd, server);
  EXPECT_EQ(m.lParam, MAKELONG(ws::FD_CLOSE, 0));
}

// A blocked recv, accept or send is woken by closesocket or WSACleanup from another thread and
// fails with WSAEINTR; the descriptor closes once the call has let go (the peer sees the end of
// the stream, the listener's port is free again).
TEST_F(WinsockBlocking, CloseWakesBlockedCallWithInterrupt) {
  enum Call { kRecv, kAccept, kSend };
  enum Closer { kCloseSocket, kCleanup };
  const struct {
    Call call;
    Closer closer;
  } cases[] = {
      {kRecv, kCloseSocket}, {kAccept, kCloseSocket}, {kSend, kCloseSocket},
      {kRecv, kCleanup},     {kAccept, kCleanup},
  };
  const std::string big(32 << 20, 's');  // more than the loopback buffers take
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "call " << c.call << ", closer " << c.closer);
    if (!started_) {
      ws::WSADATA data;
      ASSERT_EQ(ws::WSAStartup(0x0101, &data), 0);
      started_ = true;
    }
    ws::SOCKET client, server;
    ASSERT_NO_FATAL_FAILURE(Pair(&client, &server));
    uint16_t port = 0;
    ws::SOCKET listener = Listen(&port);
    ASSERT_NE(listener, ws::INVALID_SOCKET);
    const ws::SOCKET target = c.call == kAccept ? listener : client;

    Caller a;
    char in[16];
    a.Start([&]() -> long {
      switch (c.call) {
        case kRecv:
          return ws::recv(client, in, sizeof(in), 0);
        case kAccept:
          return static_cast<long>(ws::accept(listener, nullptr, nullptr));
        case kSend:
          return ws::send(client, big.data(), static_cast<int>(big.size()), 0);
      }
      return 0;
    });
    a.WaitBlocked();
    Watchdog dog(60);
    if (c.closer == kCloseSocket) {
      EXPECT_EQ(ws::closesocket(target), 0);
      Forget(target);
    } else {
      EXPECT_EQ(ws::WSACleanup(), 0);
      started_ = false;
      open_.clear();
    }
    a.Join();
    if (c.call == kAccept) {
      EXPECT_EQ(static_cast<ws::SOCKET>(a.result), ws::INVALID_SOCKET);
    } else {
      EXPECT_EQ(a.result, ws::SOCKET_ERROR);
    }
    EXPECT_EQ(a.error, ws::WSAEINTR);
    // The socket is gone for good.
    EXPECT_EQ(ws::closesocket(target), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);

    if (c.closer == kCleanup) continue;  // the other sockets went with the cleanup
    if (c.call == kAccept) {
      ws::SOCKET s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
      ws::sockaddr_in addr = Loopback(port);
      EXPECT_EQ(ws::bind(s, reinterpret_cast<ws::sockaddr*>(&addr), sizeof(addr)), 0);
      EXPECT_EQ(ws::listen(s, 5), 0);
      ws::closesocket(s);
    } else {
      // What the peer reads ends: the descriptor was closed, not left open by the woken call.
      std::string rest;
      char buf[65536];
      for (;;) {
        int r = ws::recv(server, buf, sizeof(buf), 0);
        if (r <= 0) break;
        rest.append(buf, static_cast<size_t>(r));
      }
      EXPECT_LE(rest.size(), big.size());
    }
  }
}

}  // namespace
