// The Net unit over loopback: wire format, line and data taking, closes, hostile peers, lookups,
// and a second engine process built on the Net unit as the peer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "base/dpump.h"
#include "shell/cmainwindow.h"
#include "shell/cnetmanager.h"
#include "shell_fixture.h"
#include "tests/support/raw_peer.h"

namespace {

void Nap() {
  timespec t{0, 1000000};
  nanosleep(&t, nullptr);
}

// Pumps the main window's messages until the condition holds (or about five seconds pass).
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 5000; ++i) {
    DPumpMessages();
    if (done()) return true;
    Nap();
  }
  return done();
}

using orvane_test::RawPeer;

class NetUnitTest : public shell_test::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    ASSERT_TRUE(MainWindow().Create());
    ASSERT_TRUE(nm.Init());
    EXPECT_FALSE(nm.Init());
  }
  void TearDown() override {
    nm.Term();
    ShellTest::TearDown();
  }
  // A listener on a free port, the raw peer connected to it, and the accepted net (no waits).
  void Pair(RawPeer* peer, DRef<CNet>* net) {
    for (port_ = 41000 + (getpid() % 2000); port_ < 65000; ++port_) {
      nm.Bind(&listener_, port_, 5);
      if (listener_) break;
    }
    ASSERT_TRUE(listener_);
    ASSERT_TRUE(peer->Connect(static_cast<uint16_t>(port_)));
    ASSERT_TRUE(PumpUntil([&] { return listener_->IsAcceptWaiting(); }));
    nm.Accept(*listener_, net, false);
    ASSERT_TRUE(*net);
    (*net)->SetWaitMode(0);
    EXPECT_TRUE((*net)->IsConnected());
  }
  std::string Line(CNet& n) {
    DString s;
    PumpUntil([&] {
      s = n.RecvString();
      return static_cast<bool>(s) || n.IsError();
    });
    return s ? s.Text() : "<none>";
  }

  CNetManager& nm = NetManager();
  DRef<CNet> listener_;
  int32_t port_ = 0;
};

TEST_F(NetUnitTest, WireFormatOut) {
  RawPeer peer;
  DRef<CNet> n;
  Pair(&peer, &n);
  EXPECT_TRUE(n->SendString("A"));
  EXPECT_EQ(peer.Read(2), "A\n");
  EXPECT_TRUE(n->SendString("B\n"));
  EXPECT_EQ(peer.Read(2), "B\n");
  EXPECT_TRUE(n->SendString(""));
  EXPECT_EQ(peer.Read(1), "\n");
  int32_t one = 1;
  EXPECT_TRUE(n->SendData(&one, 4));
  EXPECT_EQ(peer.Read(4), std::string("\x01\0\0\0", 4));
  float f = 1.0f;
  EXPECT_TRUE(n->SendData(&f, 4));
  EXPECT_EQ(peer.Read(4), std::string("\0\0\x80\x3f", 4));
  EXPECT_FALSE(n->SendData(&f, -1));
}

TEST_F(NetUnitTest, LinesAndDataIn) {
  RawPeer peer;
  DRef<CNet> n;
  Pair(&peer, &n);
  peer.Send(std::string("ab\r\na\rb\0", 8) + "x\r\r\ny\n");
  EXPECT_EQ(Line(*n), "ab");
  EXPECT_EQ(Line(*n), "ab");
  EXPECT_EQ(Line(*n), "x");
  EXPECT_EQ(Line(*n), "y");
  EXPECT_FALSE(n->RecvString());  // nothing buffered: empty, the net fine
  EXPECT_FALSE(n->IsError());
  peer.Send(std::string("\x2a\0\0\0rest", 8));
  int32_t v = 0;
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(&v, 4); }));
  EXPECT_EQ(v, 42);
  char buf[8] = {};
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(buf, 4); }));
  EXPECT_EQ(std::string(buf, 4), "rest");
  EXPECT_FALSE(n->RecvData(buf, -1));
  EXPECT_FALSE(n->RecvData(buf, static_cast<int32_t>(CNet::kMaxBuffer)));
  // A line split across many pulls.
  std::string big(100000, 'q');
  peer.Send(big + "\n");
  EXPECT_EQ(Line(*n), big);
}

TEST_F(NetUnitTest, PeerCloseGivesLastLineThenError) {
  RawPeer peer;
  DRef<CNet> n;
  Pair(&peer, &n);
  peer.Send("xy");
  peer.Close();
  ASSERT_TRUE(PumpUntil([&] { return !n->IsConnected(); }));
  EXPECT_FALSE(n->IsError());
  EXPECT_EQ(Line(*n), "xy");
  EXPECT_TRUE(n->IsError());
  EXPECT_FALSE(n->SendString("late"));
}

TEST_F(NetUnitTest, CloseMidNumberDiscardsThePart) {
  RawPeer peer;
  DRef<CNet> n;
  Pair(&peer, &n);
  peer.Send("abc");
  peer.Close();
  int32_t v = 0;
  PumpUntil([&] { return n->RecvData(&v, 4) || n->IsError(); });
  EXPECT_TRUE(n->IsError());
  EXPECT_FALSE(n->RecvString());  // the three bytes were discarded
}

TEST_F(NetUnitTest, HostilePeers) {
  {
    // An endless line: the buffer stops at its cap and the net fails, nothing grows further.
    RawPeer peer;
    DRef<CNet> n;
    Pair(&peer, &n);
    std::string chunk(1 << 20, 'z');
    for (int i = 0; i < 70 && !n->IsError(); ++i) {
      peer.Send(chunk);
      for (int k = 0; k < 4; ++k) n->RecvString();
    }
    PumpUntil([&] { return n->RecvString() || (n->Flags() & CNet::kFailed); });
    EXPECT_TRUE(n->Flags() & CNet::kFailed);
    listener_->Close();
  }
  {
    // A reset: the net fails; nothing is left to read.
    RawPeer peer;
    DRef<CNet> n;
    Pair(&peer, &n);
    peer.Send("partial");
    peer.Reset();
    PumpUntil([&] {
      n->RecvString();
      return n->IsError();
    });
    EXPECT_TRUE(n->IsError());
    EXPECT_FALSE(n->SendString("x"));
  }
}

TEST_F(NetUnitTest, ConnectByNameAndRefusal) {
  RawPeer unused;
  DRef<CNet> accepted;
  Pair(&unused, &accepted);
  DRef<CNet> c;
  nm.Connect(&c, "localhost", port_, false);
  ASSERT_TRUE(c);
  EXPECT_NE(c->Lookup(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return c->IsConnected() || c->IsError(); }));
  EXPECT_TRUE(c->IsConnected());
  // Port outside 0..65535: refused at once.
  DRef<CNet> bad;
  nm.Bind(&bad, 65536 + port_, 5);
  EXPECT_FALSE(bad);
  nm.Bind(&bad, port_, 5);  // a live listener still refuses
  EXPECT_FALSE(bad);
  // A numeric address nobody listens on fails later.
  DRef<CNet> refused;
  listener_->Close();
  nm.Connect(&refused, "127.0.0.1", port_, false);
  ASSERT_TRUE(refused);
  EXPECT_TRUE(PumpUntil([&] { return refused->IsError(); }));
  // A closed net cancels its lookup; the completion writes nothing.
  DRef<CNet> cancelled;
  nm.Connect(&cancelled, "localhost", port_, false);
  ASSERT_TRUE(cancelled);
  cancelled->Close();
  EXPECT_EQ(cancelled->Lookup(), nullptr);
  for (int i = 0; i < 50; ++i) {
    DPumpMessages();
    Nap();
  }
  EXPECT_TRUE(cancelled->IsError());
}

TEST_F(NetUnitTest, ClosedNetsLeaveTheList) {
  RawPeer peer;
  DRef<CNet> n;
  Pair(&peer, &n);
  EXPECT_EQ(nm.NetCount(), 2u);
  n->Close();
  n->Close();
  EXPECT_EQ(nm.NetCount(), 1u);
  EXPECT_TRUE(n->IsError());
  nm.CloseAll();
  EXPECT_EQ(nm.NetCount(), 0u);
  EXPECT_TRUE(listener_->IsError());
}

TEST_F(NetUnitTest, SecondEngineProcessExchangesEveryKind) {
  for (port_ = 43000 + (getpid() % 2000); port_ < 65000; ++port_) {
    nm.Bind(&listener_, port_, 5);
    if (listener_) break;
  }
  ASSERT_TRUE(listener_);
  std::string exe = std::string(ORVANE_BINARY_DIR) + "/bin/shell_net_peer";
  pid_t pid = fork();
  if (pid == 0) {
    std::string port = std::to_string(port_);
    execl(exe.c_str(), exe.c_str(), port.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(PumpUntil([&] { return listener_->IsAcceptWaiting(); }));
  DRef<CNet> n;
  nm.Accept(*listener_, &n, false);
  ASSERT_TRUE(n);
  n->SetWaitMode(0);
  // The peer speaks first, then echoes what we send, changed.
  EXPECT_EQ(Line(*n), "こんにちは from peer");
  int32_t v = 0;
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(&v, 4); }));
  EXPECT_EQ(v, -123456);
  float f = 0;
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(&f, 4); }));
  EXPECT_EQ(f, 2.5f);
  EXPECT_TRUE(n->SendString("hello"));
  int32_t num = 41;
  EXPECT_TRUE(n->SendData(&num, 4));
  float fl = 1.25f;
  EXPECT_TRUE(n->SendData(&fl, 4));
  std::string data(10000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  EXPECT_TRUE(n->SendData(data.data(), static_cast<int32_t>(data.size())));
  EXPECT_EQ(Line(*n), "hello!");
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(&v, 4); }));
  EXPECT_EQ(v, 42);
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(&f, 4); }));
  EXPECT_EQ(f, 2.5f);
  std::string back(data.size(), '\0');
  ASSERT_TRUE(PumpUntil([&] { return n->RecvData(back.data(), static_cast<int32_t>(back.size())); }));
  EXPECT_EQ(back, std::string(data.rbegin(), data.rend()));
  int status = 0;
  for (int i = 0; i < 5000 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    DPumpMessages();
    Nap();
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
