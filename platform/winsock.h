// WinSock 1.1 on POSIX sockets. The socket calls live in namespace ws (their names are taken by
// the C library); SOCKET values are ids that are never reused soon, so a notification still
// queued for a closed socket cannot reach a new one. WSAAsyncSelect makes a socket non-blocking
// and has one poller thread post its notifications with WinSock's re-enabling rules;
// WSAAsyncGetHostByName resolves on a worker and fills the caller's buffer on the asking thread
// when the completion message is taken from the queue.
// A blocking call (recv, send, accept, connect) waits without holding any lock that other
// sockets' calls need; closesocket on its socket from another thread makes it fail with WSAEINTR.
#pragma once

#include <cstdint>

#include "platform/kernel.h"
#include "platform/wintypes.h"

namespace ws {

#define ORVANE_WS_API __attribute__((visibility("default")))

using SOCKET = uintptr_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr uint32_t INADDR_ANY = 0;
inline constexpr uint32_t INADDR_NONE = 0xFFFFFFFFu;
inline constexpr int SD_RECEIVE = 0, SD_SEND = 1, SD_BOTH = 2;
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int SO_ERROR = 0x1007;
inline constexpr int SO_LINGER = 0x0080;
inline constexpr int MAXGETHOSTSTRUCT = 1024;

// Notification events (LOWORD of lParam; the error is the HIWORD).
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// Error codes.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
};

struct in_addr {
  uint32_t s_addr;  // network order
};
struct sockaddr {
  uint16_t sa_family;
  char sa_data[14];
};
struct sockaddr_in {
  int16_t sin_family;
  uint16_t sin_port;  // network order
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);

struct linger {
  uint16_t l_onoff;
  uint16_t l_linger;
};

struct hostent {
  char* h_name;
  char** h_aliases;
  int16_t h_addrtype;
  int16_t h_length;
  char** h_addr_list;
};

ORVANE_WS_API int WSAStartup(WORD version, WSADATA* data);
ORVANE_WS_API int WSACleanup();
ORVANE_WS_API int WSAGetLastError();
ORVANE_WS_API void WSASetLastError(int error);

ORVANE_WS_API SOCKET socket(int af, int type, int protocol);
ORVANE_WS_API int closesocket(SOCKET s);
ORVANE_WS_API int shutdown(SOCKET s, int how);
ORVANE_WS_API int bind(SOCKET s, const sockaddr* name, int length);
ORVANE_WS_API int listen(SOCKET s, int backlog);
ORVANE_WS_API SOCKET accept(SOCKET s, sockaddr* address, int* length);
ORVANE_WS_API int connect(SOCKET s, const sockaddr* name, int length);
ORVANE_WS_API int send(SOCKET s, const char* buffer, int length, int flags);
ORVANE_WS_API int recv(SOCKET s, char* buffer, int length, int flags);
ORVANE_WS_API int getsockopt(SOCKET s, int level, int name, char* value, int* length);
// SO_LINGER only (a zero linger makes closesocket reset the connection).
ORVANE_WS_API int setsockopt(SOCKET s, int level, int name, const char* value, int length);

ORVANE_WS_API uint32_t inet_addr(const char* text);
// The dotted text of an address, in a buffer of the calling thread.
ORVANE_WS_API char* inet_ntoa(in_addr address);
inline uint16_t htons(uint16_t v) {
  return static_cast<uint16_t>((v << 8) | (v >> 8));
}
inline uint16_t ntohs(uint16_t v) {
  return htons(v);
}
inline uint32_t htonl(uint32_t v) {
  return __builtin_bswap32(v);
}
inline uint32_t ntohl(uint32_t v) {
  return __builtin_bswap32(v);
}

// Makes the socket non-blocking and posts `message` to hwnd with wParam = the socket and
// lParam = MAKELONG(event, error) for the chosen events; events 0 stops notifications.
ORVANE_WS_API int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long events);
// Resolves `name` (IPv4) and posts `message` with wParam = the returned handle (never 0) and
// lParam = MAKELONG(length, error); the hostent is written into `buffer` when that message is
// taken from the queue. 0 on failure.
ORVANE_WS_API HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT message, const char* name, char* buffer,
                                           int length);
// Cancels a lookup: its buffer is never written and its message never comes (one already queued
// is left, with nothing written).
ORVANE_WS_API int WSACancelAsyncRequest(HANDLE request);

}  // namespace ws
