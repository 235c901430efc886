// WinSock 1.1 over POSIX sockets: an id table, one epoll poller thread for WSAAsyncSelect and
// worker threads for host-name lookups. Every descriptor is non-blocking underneath: a blocking
// socket's call takes a share of the descriptor under the table lock, then waits in poll() with
// the lock released, so one thread waiting on its socket never stalls another's calls or the
// poller. closesocket cancels such waits through the socket's cancel event (they fail with
// WSAEINTR), and the descriptor is closed when its last share goes, so no call ever runs on a
// closed or re-used descriptor number.
#include "platform/winsock.h"

// The WinSock values whose names the system headers below take over as macros.
namespace {
constexpr int kWsAfInet = ws::AF_INET;
constexpr int kWsSockStream = ws::SOCK_STREAM;
constexpr int kWsIpprotoTcp = ws::IPPROTO_TCP;
constexpr int kWsSolSocket = ws::SOL_SOCKET;
constexpr int kWsSoError = ws::SO_ERROR;
constexpr int kWsSoLinger = ws::SO_LINGER;
}  // namespace

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/user.h"
#include "platform/user_internal.h"

namespace ws {
namespace {

thread_local int t_last_error = 0;

int Fail(int error) {
  t_last_error = error;
  return SOCKET_ERROR;
}

int MapErrno(int e) {
  switch (e) {
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EINPROGRESS:
      return WSAEWOULDBLOCK;  // a non-blocking connect under way
    case EALREADY:
      return WSAEALREADY;
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAENOTSOCK;
    case EACCES:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    default:
      return WSAEINVAL;
  }
}

// A socket's descriptor, shared by the table and every blocking call under way on it; the last
// share closes it.
struct Desc {
  explicit Desc(int f) : fd(f) {}
  Desc(const Desc&) = delete;
  Desc& operator=(const Desc&) = delete;
  ~Desc() {
    if (cancel_fd >= 0) close(cancel_fd);
    if (fd >= 0) close(fd);
  }
  const int fd;
  // An eventfd made (under the table lock) by the first blocking call; closesocket signals it.
  int cancel_fd = -1;
  std::atomic<bool> cancelled{false};
};

struct Sock {
  int fd = -1;  // desc->fd while the socket is in the table
  std::shared_ptr<Desc> desc;
  bool nonblocking = false;  // set by WSAAsyncSelect; the descriptor itself always is
  HWND hwnd = nullptr;
  UINT message = 0;
  long events = 0;
  bool listening = false;
  bool connecting = false;
  bool connected = false;
  bool read_armed = true;
  bool write_armed = false;
  bool accept_armed = true;
  bool close_posted = false;
  bool registered = false;
};

struct Lookup {
  HWND hwnd = nullptr;
  UINT message = 0;
  char* buffer = nullptr;
  int length = 0;
  bool done = false;
  int error = 0;
  std::vector<uint32_t> addresses;
  std::string name;
};

struct State {
  std::mutex lock;
  int startups = 0;
  std::map<SOCKET, Sock> sockets;
  SOCKET next_socket = 0x100;
  int epoll_fd = -1;
  int wake_fd = -1;
  std::thread poller;
  std::map<uintptr_t, Lookup> lookups;
  uintptr_t next_lookup = 1;
  int running_workers = 0;
};

State& S() {
  static State* s = new State;
  return *s;
}

void Post(const Sock& k, SOCKET s, long event, int error) {
  if (k.hwnd && (k.events & event)) {
    PostMessageA(k.hwnd, k.message, static_cast<WPARAM>(s), static_cast<LPARAM>(MAKELONG(event, error)));
  }
}

// The poller's interest for a socket (state locked); 0: none.
uint32_t Interest(const Sock& k) {
  uint32_t ev = 0;
  if (k.listening) return k.accept_armed ? static_cast<uint32_t>(EPOLLIN) : 0u;
  if (k.connecting) return EPOLLOUT;
  if (k.read_armed) ev |= EPOLLIN;
  if (k.write_armed) ev |= EPOLLOUT;
  if (!k.close_posted) ev |= EPOLLRDHUP;
  return ev;
}

// Re-arms a socket's one-shot registration after its state changed (state locked).
void Rearm(State& st, SOCKET s, Sock& k) {
  if (st.epoll_fd < 0 || k.fd < 0 || !k.hwnd || k.events == 0) return;
  uint32_t ev = Interest(k);
  epoll_event e{};
  e.events = ev | EPOLLONESHOT;
  e.data.u64 = s;
  if (ev == 0) {
    if (k.registered) {
      e.events = EPOLLONESHOT;  // parked: nothing reported until re-armed
      epoll_ctl(st.epoll_fd, EPOLL_CTL_MOD, k.fd, &e);
    }
    return;
  }
  if (k.registered) {
    epoll_ctl(st.epoll_fd, EPOLL_CTL_MOD, k.fd, &e);
  } else if (epoll_ctl(st.epoll_fd, EPOLL_CTL_ADD, k.fd, &e) == 0) {
    k.registered = true;
  }
}

void HandleEvent(State& st, SOCKET s, uint32_t ev) {
  auto it = st.sockets.find(s);
  if (it == st.sockets.end()) return;
  Sock& k = it->second;
  const bool failed = (ev & (EPOLLERR | EPOLLHUP)) != 0;
  if (k.listening) {
    if ((ev & EPOLLIN) && k.accept_armed) {
      k.accept_armed = false;
      Post(k, s, FD_ACCEPT, 0);
    }
  } else if (k.connecting) {
    int err = 0;
    socklen_t len = sizeof(err);
    ::getsockopt(k.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    k.connecting = false;
    if (err == 0) {
      k.connected = true;
      Post(k, s, FD_CONNECT, 0);
      k.write_armed = false;
      Post(k, s, FD_WRITE, 0);
    } else {
      k.close_posted = true;
      k.read_armed = false;
      Post(k, s, FD_CONNECT, MapErrno(err));
    }
  } else {
    if (ev & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
      int pending = 0;
      ioctl(k.fd, FIONREAD, &pending);
      if (pending > 0 && k.read_armed) {
        k.read_armed = false;
        Post(k, s, FD_READ, 0);
      }
      // Nothing to read is the end of the stream only when a peek says so: the event may have
      // been taken before a recv on another thread drained the socket and re-armed it, and then
      // neither a close is told nor the next FD_READ lost.
      bool at_end = false;
      if (pending <= 0) {
        char c;
        ssize_t r = ::recv(k.fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
        at_end = r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
      }
      if (at_end) k.read_armed = false;  // the next recv re-arms
      // The peer's close is told once, also while data is still to be read.
      bool eof = (ev & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) || at_end;
      if (eof && !k.close_posted) {
        int err = 0;
        socklen_t len = sizeof(err);
        ::getsockopt(k.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        k.close_posted = true;
        Post(k, s, FD_CLOSE, err ? MapErrno(err) : 0);
      }
    }
    if ((ev & EPOLLOUT) && k.write_armed) {
      k.write_armed = false;
      Post(k, s, FD_WRITE, 0);
    }
  }
  // Hang-ups and errors are reported whatever the interest: after one, only the next recv
  // re-arms the socket, so a dead socket does not wake the poller again and again.
  if (failed) return;
  Rearm(st, s, k);
}

void PollerLoop() {
  State& st = S();
  epoll_event events[64];
  for (;;) {
    int n = epoll_wait(st.epoll_fd, events, 64, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;
    std::lock_guard<std::mutex> l(st.lock);
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == 0) {
        uint64_t v;
        if (::read(st.wake_fd, &v, sizeof(v)) < 0) {
        }
        if (st.startups == 0) return;
        continue;
      }
      HandleEvent(st, static_cast<SOCKET>(events[i].data.u64), events[i].events);
    }
  }
}

// Writes a hostent with the addresses into the caller's buffer; false when it does not fit.
bool FillHostent(const Lookup& q) {
  if (!q.buffer || q.length < static_cast<int>(sizeof(hostent))) return false;
  char* base = q.buffer;
  size_t used = sizeof(hostent);
  // Pointers go to addresses aligned for them, wherever the caller's buffer starts.
  auto take = [&](size_t n, size_t align) -> char* {
    uintptr_t at = reinterpret_cast<uintptr_t>(base) + used;
    used += ((at + align - 1) & ~(uintptr_t{align} - 1)) - at;
    if (used + n > static_cast<size_t>(q.length)) return nullptr;
    char* p = base + used;
    used += n;
    return p;
  };
  size_t count = q.addresses.size();
  auto** list = reinterpret_cast<char**>(take((count + 1) * sizeof(char*), alignof(char*)));
  auto** aliases = reinterpret_cast<char**>(take(sizeof(char*), alignof(char*)));
  char* addrs = take(count * 4, 4);
  char* name = take(q.name.size() + 1, 1);
  if (!list || !aliases || (count && !addrs) || !name) return false;
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(addrs + i * 4, &q.addresses[i], 4);
    list[i] = addrs + i * 4;
  }
  list[count] = nullptr;
  aliases[0] = nullptr;
  std::memcpy(name, q.name.c_str(), q.name.size() + 1);
  hostent h{name, aliases, kWsAfInet, 4, list};
  std::memcpy(base, &h, sizeof(h));
  return true;
}

// Runs on the thread that takes a lookup's completion message from its queue.
void OnPostedTaken(const MSG& msg) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  auto it = st.lookups.find(static_cast<uintptr_t>(msg.wParam));
  if (it == st.lookups.end() || !it->second.done || it->second.hwnd != msg.hwnd ||
      it->second.message != msg.message) {
    return;
  }
  if (it->second.error == 0 && !FillHostent(it->second)) {
    // Too small a buffer: the message says WSAENOBUFS in its error word only if it was set at
    // posting time; nothing is written beyond the buffer either way.
  }
  st.lookups.erase(it);
}

void LookupWorker(uintptr_t handle, std::string name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(name.c_str(), nullptr, &hints, &res);
  std::vector<uint32_t> addresses;
  if (rc == 0) {
    for (addrinfo* a = res; a; a = a->ai_next) {
      if (a->ai_family != AF_INET) continue;
      uint32_t v = reinterpret_cast<const ::sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
      if (std::find(addresses.begin(), addresses.end(), v) == addresses.end()) addresses.push_back(v);
    }
    freeaddrinfo(res);
  }
  int error = rc == 0 && !addresses.empty()                               ? 0
              : rc == EAI_AGAIN                                           ? WSATRY_AGAIN
              : rc == EAI_NONAME || rc == EAI_NODATA || addresses.empty() ? WSAHOST_NOT_FOUND
                                                                          : WSANO_RECOVERY;
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  --st.running_workers;
  auto it = st.lookups.find(handle);
  if (it == st.lookups.end()) return;  // cancelled
  Lookup& q = it->second;
  q.done = true;
  q.error = error;
  q.addresses = std::move(addresses);
  size_t need = sizeof(hostent) + (q.addresses.size() + 2) * sizeof(char*) + q.addresses.size() * 4 +
                q.name.size() + 1 + 16;
  if (error == 0 && need > static_cast<size_t>(q.length)) q.error = error = WSAENOBUFS;
  PostMessageA(q.hwnd, q.message, static_cast<WPARAM>(handle),
               static_cast<LPARAM>(MAKELONG(static_cast<WORD>(need > 0xFFFF ? 0xFFFF : need), error)));
}

Sock* Find(State& st, SOCKET s) {
  auto it = st.sockets.find(s);
  return it == st.sockets.end() ? nullptr : &it->second;
}

// Enters a new descriptor in the table (state locked).
SOCKET Add(State& st, int fd) {
  SOCKET id = st.next_socket++;
  Sock& k = st.sockets[id];
  k.fd = fd;
  k.desc = std::make_shared<Desc>(fd);
  return id;
}

// Takes a socket out of service (state locked): leaves the poller, wakes every blocking call on
// it and hands back the table's share of the descriptor, to be dropped once the lock is released.
std::shared_ptr<Desc> Detach(State& st, Sock& k) {
  if (k.registered) epoll_ctl(st.epoll_fd, EPOLL_CTL_DEL, k.fd, nullptr);
  k.registered = false;
  k.fd = -1;
  std::shared_ptr<Desc> d = std::move(k.desc);
  if (d) {
    d->cancelled.store(true, std::memory_order_release);
    uint64_t one = 1;
    if (d->cancel_fd >= 0 && ::write(d->cancel_fd, &one, sizeof(one)) < 0) {
    }
  }
  return d;
}

// A share of a blocking socket's descriptor for a call that waits unlocked (state locked); null
// when its cancel event cannot be made.
std::shared_ptr<Desc> Share(Sock& k) {
  if (k.desc->cancel_fd < 0) k.desc->cancel_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (k.desc->cancel_fd < 0) return nullptr;
  return k.desc;
}

// Runs `attempt` on a blocking socket's descriptor, state unlocked: attempt() returns false while
// the call would block, and then this waits in poll() for `events` or the socket's close.
// Returns false when the socket was closed first.
template <class Attempt>
bool RunBlocking(const Desc& d, short events, Attempt attempt) {
  pollfd p[2] = {{d.fd, events, 0}, {d.cancel_fd, POLLIN, 0}};
  for (;;) {
    if (d.cancelled.load(std::memory_order_acquire)) return false;
    if (attempt()) return true;
    int n;
    do {
      n = ::poll(p, 2, -1);
    } while (n < 0 && errno == EINTR);
    if (p[1].revents) return false;
  }
}

// Whether a failed call on a non-blocking descriptor only has to be tried again.
bool Again(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

bool ToPosix(const sockaddr* name, int length, ::sockaddr_in* out) {
  if (!name || length < static_cast<int>(sizeof(sockaddr_in))) return false;
  sockaddr_in in;
  std::memcpy(&in, name, sizeof(in));
  if (in.sin_family != kWsAfInet) return false;
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  out->sin_port = in.sin_port;
  out->sin_addr.s_addr = in.sin_addr.s_addr;
  return true;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
  if (!data) return WSAEFAULT;
  if ((version & 0xFF) < 1) return WSAVERNOTSUPPORTED;
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  std::memset(data, 0, sizeof(*data));
  data->wVersion = 0x0101;
  data->wHighVersion = 0x0101;
  std::strcpy(data->szDescription, "WinSock 1.1");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 0x7FFF;
  if (st.startups++ == 0) {
    st.epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    st.wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (st.epoll_fd < 0 || st.wake_fd < 0) {
      if (st.epoll_fd >= 0) close(st.epoll_fd);
      if (st.wake_fd >= 0) close(st.wake_fd);
      st.epoll_fd = st.wake_fd = -1;
      st.startups = 0;
      return WSASYSNOTREADY;
    }
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = 0;
    epoll_ctl(st.epoll_fd, EPOLL_CTL_ADD, st.wake_fd, &e);
    orvane::user::SetPostedTakenHook(&OnPostedTaken);
    st.poller = std::thread(PollerLoop);
  }
  return 0;
}

int WSACleanup() {
  State& st = S();
  std::thread poller;
  {
    std::lock_guard<std::mutex> l(st.lock);
    if (st.startups == 0) return Fail(WSANOTINITIALISED);
    if (--st.startups > 0) return 0;
    // Blocking calls still under way fail with WSAEINTR; their shares close the descriptors.
    for (auto& [id, k] : st.sockets) Detach(st, k);
    st.sockets.clear();
    st.lookups.clear();  // running workers find their lookups gone
    uint64_t one = 1;
    if (::write(st.wake_fd, &one, sizeof(one)) < 0) {
    }
    poller = std::move(st.poller);
  }
  if (poller.joinable()) poller.join();
  std::lock_guard<std::mutex> l(st.lock);
  if (st.startups == 0) {
    close(st.epoll_fd);
    close(st.wake_fd);
    st.epoll_fd = st.wake_fd = -1;
  }
  return 0;
}

int WSAGetLastError() {
  return t_last_error;
}
void WSASetLastError(int error) {
  t_last_error = error;
}

SOCKET socket(int af, int type, int protocol) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  if (st.startups == 0) return Fail(WSANOTINITIALISED), INVALID_SOCKET;
  if (af != kWsAfInet || type != kWsSockStream || (protocol != 0 && protocol != kWsIpprotoTcp)) {
    return Fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return Fail(MapErrno(errno)), INVALID_SOCKET;
  return Add(st, fd);
}

int closesocket(SOCKET s) {
  State& st = S();
  std::shared_ptr<Desc> gone;  // dropped after the lock: a lingering close waits unlocked
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  gone = Detach(st, *k);
  st.sockets.erase(s);
  return 0;
}

int shutdown(SOCKET s, int how) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  int h = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(k->fd, h) != 0) return Fail(MapErrno(errno));
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int length) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  ::sockaddr_in a;
  if (!ToPosix(name, length, &a)) return Fail(WSAEFAULT);
  // Windows binds again over a port left in TIME_WAIT; a live listener still refuses.
  int one = 1;
  ::setsockopt(k->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  if (::bind(k->fd, reinterpret_cast<::sockaddr*>(&a), sizeof(a)) != 0) return Fail(MapErrno(errno));
  return 0;
}

int listen(SOCKET s, int backlog) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (::listen(k->fd, backlog) != 0) return Fail(MapErrno(errno));
  k->listening = true;
  k->accept_armed = true;
  Rearm(st, s, *k);
  return 0;
}

SOCKET accept(SOCKET s, sockaddr* address, int* length) {
  State& st = S();
  std::shared_ptr<Desc> d;  // a blocking accept's share, dropped after the lock
  std::unique_lock<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK), INVALID_SOCKET;
  ::sockaddr_in a{};
  int fd = -1;
  int err = 0;
  auto attempt = [&](int listener) {
    socklen_t len = sizeof(a);
    fd = ::accept4(listener, reinterpret_cast<::sockaddr*>(&a), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    err = errno;
    return fd >= 0 || !Again(err);
  };
  if (k->nonblocking) {
    attempt(k->fd);
  } else {
    d = Share(*k);
    if (!d) return Fail(WSAEMFILE), INVALID_SOCKET;
    l.unlock();
    bool ran = RunBlocking(*d, POLLIN, [&] { return attempt(d->fd); });
    if (!ran) return Fail(WSAEINTR), INVALID_SOCKET;
    l.lock();
    if (fd >= 0 && st.startups == 0) {  // WSACleanup came meanwhile: no table to enter it in
      close(fd);
      return Fail(WSAEINTR), INVALID_SOCKET;
    }
    k = Find(st, s);  // null when the listener was closed just after the call completed
  }
  if (k) {
    k->accept_armed = true;  // the next pending connection is reported again
    Rearm(st, s, *k);
  }
  if (fd < 0) return Fail(MapErrno(err)), INVALID_SOCKET;
  if (address && length && *length >= static_cast<int>(sizeof(sockaddr_in))) {
    sockaddr_in w{};
    w.sin_family = kWsAfInet;
    w.sin_port = a.sin_port;
    w.sin_addr.s_addr = a.sin_addr.s_addr;
    std::memcpy(address, &w, sizeof(w));
    *length = sizeof(w);
  }
  // The new socket inherits the listener's notifications (non-blocking).
  SOCKET id = Add(st, fd);
  Sock& n = st.sockets[id];
  n.connected = true;
  if (k && k->hwnd) {
    n.nonblocking = true;
    n.hwnd = k->hwnd;
    n.message = k->message;
    n.events = k->events;
    n.write_armed = true;
    Rearm(st, id, n);
  }
  return id;
}

int connect(SOCKET s, const sockaddr* name, int length) {
  State& st = S();
  std::shared_ptr<Desc> d;
  std::unique_lock<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  ::sockaddr_in a;
  if (!ToPosix(name, length, &a)) return Fail(WSAEFAULT);
  int rc = ::connect(k->fd, reinterpret_cast<::sockaddr*>(&a), sizeof(a));
  int err = errno;
  if (rc != 0 && err == EINPROGRESS) {
    if (k->nonblocking) {
      k->connecting = true;
      Rearm(st, s, *k);
      return Fail(WSAEWOULDBLOCK);
    }
    // A blocking connect waits unlocked for the outcome.
    d = Share(*k);
    if (!d) return Fail(WSAEMFILE);
    l.unlock();
    bool ran = RunBlocking(*d, POLLOUT, [&] {
      pollfd p{d->fd, POLLOUT, 0};
      if (::poll(&p, 1, 0) <= 0) return false;
      socklen_t len = sizeof(err);
      err = 0;
      ::getsockopt(d->fd, SOL_SOCKET, SO_ERROR, &err, &len);
      return true;
    });
    if (!ran) return Fail(WSAEINTR);
    l.lock();
    k = Find(st, s);
    if (!k) return Fail(WSAEINTR);  // closed as the connection completed
    rc = err == 0 ? 0 : -1;
  }
  if (rc == 0) {
    k->connected = true;
    if (k->hwnd) {
      Post(*k, s, FD_CONNECT, 0);
      Post(*k, s, FD_WRITE, 0);
      Rearm(st, s, *k);
    }
    return 0;
  }
  return Fail(MapErrno(err));
}

int send(SOCKET s, const char* buffer, int length, int) {
  State& st = S();
  std::shared_ptr<Desc> d;
  std::unique_lock<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (length < 0 || (!buffer && length > 0)) return Fail(WSAEFAULT);
  if (k->nonblocking) {
    ssize_t n = ::send(k->fd, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (n < 0) {
      int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK) {
        k->write_armed = true;  // FD_WRITE once the socket takes more
        Rearm(st, s, *k);
      }
      return Fail(MapErrno(err));
    }
    return static_cast<int>(n);
  }
  // A blocking send waits unlocked until every byte is taken.
  d = Share(*k);
  if (!d) return Fail(WSAEMFILE);
  l.unlock();
  size_t put = 0;
  int err = 0;
  bool ran = RunBlocking(*d, POLLOUT, [&] {
    for (;;) {
      ssize_t n = ::send(d->fd, buffer + put, static_cast<size_t>(length) - put, MSG_NOSIGNAL);
      if (n < 0) {
        err = errno;
        return !Again(err);
      }
      err = 0;
      put += static_cast<size_t>(n);
      if (put >= static_cast<size_t>(length)) return true;
    }
  });
  if (!ran) return Fail(WSAEINTR);
  // A failure after part of the bytes went reports that part; the next call reports the error.
  if (err != 0 && put == 0) return Fail(MapErrno(err));
  return static_cast<int>(put);
}

int recv(SOCKET s, char* buffer, int length, int) {
  State& st = S();
  std::shared_ptr<Desc> d;
  std::unique_lock<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (length < 0 || (!buffer && length > 0)) return Fail(WSAEFAULT);
  ssize_t n = -1;
  int err = 0;
  if (k->nonblocking) {
    n = ::recv(k->fd, buffer, static_cast<size_t>(length), 0);
    err = errno;
  } else {
    d = Share(*k);
    if (!d) return Fail(WSAEMFILE);
    l.unlock();
    bool ran = RunBlocking(*d, POLLIN, [&] {
      n = ::recv(d->fd, buffer, static_cast<size_t>(length), 0);
      err = errno;
      return n >= 0 || !Again(err);
    });
    if (!ran) return Fail(WSAEINTR);
    l.lock();
    k = Find(st, s);  // null when the socket was closed just after the call completed
  }
  // FD_READ comes again when data remains (or arrives).
  if (k) {
    k->read_armed = true;
    Rearm(st, s, *k);
  }
  if (n < 0) {
    if (err == ENOTCONN && k && k->connecting) return Fail(WSAEWOULDBLOCK);
    return Fail(MapErrno(err));
  }
  return static_cast<int>(n);
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (level != kWsSolSocket || name != kWsSoError) return Fail(WSAEINVAL);
  if (!value || !length || *length < 4) return Fail(WSAEFAULT);
  int err = 0;
  socklen_t len = sizeof(err);
  ::getsockopt(k->fd, SOL_SOCKET, SO_ERROR, &err, &len);
  int mapped = err ? MapErrno(err) : 0;
  std::memcpy(value, &mapped, 4);
  *length = 4;
  return 0;
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (level != kWsSolSocket || name != kWsSoLinger) return Fail(WSAEINVAL);
  if (!value || length < static_cast<int>(sizeof(ws::linger))) return Fail(WSAEFAULT);
  ws::linger w;
  std::memcpy(&w, value, sizeof(w));
  ::linger p{w.l_onoff ? 1 : 0, w.l_linger};
  if (::setsockopt(k->fd, SOL_SOCKET, SO_LINGER, &p, sizeof(p)) != 0) return Fail(MapErrno(errno));
  return 0;
}

uint32_t inet_addr(const char* text) {
  if (!text) return INADDR_NONE;
  ::in_addr a{};
  if (::inet_aton(text, &a) == 0) return INADDR_NONE;
  return a.s_addr;
}

char* inet_ntoa(in_addr address) {
  static thread_local char text[16];
  const auto* b = reinterpret_cast<const uint8_t*>(&address.s_addr);
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long events) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  Sock* k = Find(st, s);
  if (!k) return Fail(WSAENOTSOCK);
  if (events && !hwnd) return Fail(WSAEINVAL);
  k->nonblocking = true;
  k->hwnd = hwnd;
  k->message = message;
  k->events = events;
  if (k->connected) k->write_armed = true;
  if (events == 0) {
    if (k->registered) {
      epoll_ctl(st.epoll_fd, EPOLL_CTL_DEL, k->fd, nullptr);
      k->registered = false;
    }
    return 0;
  }
  Rearm(st, s, *k);
  return 0;
}

HANDLE WSAAsyncGetHostByName(HWND hwnd, UINT message, const char* name, char* buffer, int length) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  if (st.startups == 0) return Fail(WSANOTINITIALISED), nullptr;
  if (!name || !buffer || length <= 0) return Fail(WSAEFAULT), nullptr;
  uintptr_t handle = st.next_lookup++;
  if (st.next_lookup == 0) st.next_lookup = 1;
  Lookup q;
  q.hwnd = hwnd;
  q.message = message;
  q.buffer = buffer;
  q.length = length;
  q.name = name;
  st.lookups.emplace(handle, std::move(q));
  ++st.running_workers;
  std::thread(LookupWorker, handle, std::string(name)).detach();
  return reinterpret_cast<HANDLE>(handle);
}

int WSACancelAsyncRequest(HANDLE request) {
  State& st = S();
  std::lock_guard<std::mutex> l(st.lock);
  auto it = st.lookups.find(reinterpret_cast<uintptr_t>(request));
  if (it == st.lookups.end()) return Fail(WSAEINVAL);
  st.lookups.erase(it);
  return 0;
}

}  // namespace ws
