// A blocking raw peer on the WinSock calls, for net tests: what it sends and reads is exactly the
// wire.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/winsock.h"

namespace orvane_test {

// Reads from a blocking socket until n bytes came or the peer closed.
inline std::string RecvExactly(ws::SOCKET s, size_t n) {
  std::string out(n, '\0');
  size_t got = 0;
  while (got < n) {
    int r = ws::recv(s, out.data() + got, static_cast<int>(n - got), 0);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  return out;
}

struct RawPeer {
  ws::SOCKET s = ws::INVALID_SOCKET;
  bool Connect(uint16_t port) {
    s = ws::socket(ws::AF_INET, ws::SOCK_STREAM, ws::IPPROTO_TCP);
    ws::sockaddr_in a{};
    a.sin_family = ws::AF_INET;
    a.sin_port = ws::htons(port);
    a.sin_addr.s_addr = ws::inet_addr("127.0.0.1");
    return ws::connect(s, reinterpret_cast<ws::sockaddr*>(&a), sizeof(a)) == 0;
  }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(ws::send(s, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
  }
  // Reads until n bytes came or the peer closed.
  std::string Read(size_t n) const { return RecvExactly(s, n); }
  // Closes with a reset (linger 0) instead of an orderly shutdown.
  void Reset() {
    ws::linger l{1, 0};
    ws::setsockopt(s, ws::SOL_SOCKET, ws::SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l));
    Close();
  }
  void Close() {
    if (s != ws::INVALID_SOCKET) ws::closesocket(s);
    s = ws::INVALID_SOCKET;
  }
  ~RawPeer() { Close(); }
};

}  // namespace orvane_test
