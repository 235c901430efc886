// Message queues and timers: sending, posting, peeking, waiting and dispatching window messages.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

#include "platform/clock.h"
#include "platform/host.h"
#include "platform/kernel_object.h"
#include "platform/user_internal.h"

namespace orvane::user {
namespace {

// Milliseconds since the process started (the message time base).
DWORD NowMs() {
  auto ms = [] {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000;
  };
  static const ULONGLONG start = ms();
  return static_cast<DWORD>(ms() - start);
}

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT period;
  TIMERPROC proc;
  DWORD thread;
  DWORD due;
};

// One thread's queue of posted messages and its quit request.
struct Queue {
  std::deque<MSG> posted;
  bool quit = false;
  int quit_code = 0;
  MSG last{};       // last message taken: time and position
  DWORD fresh = 0;  // QS_ bits of input posted since the thread last looked at its queue
};

// The kind of input a posted message is, for the wake masks of waits.
DWORD InputKind(UINT message) {
  if (message >= WM_KEYDOWN && message <= 0x0109u) return QS_KEY;
  if (message == WM_MOUSEMOVE) return QS_MOUSEMOVE;
  if (message >= WM_LBUTTONDOWN && message <= 0x020Eu) return QS_MOUSEBUTTON;
  return QS_POSTMESSAGE;
}

std::mutex g_lock;  // guards queues, timers and the cursor
// The objects below are made on first use and never destroyed: a run that never needs them never
// touches them (nor their pages at start and exit), and code running during exit still finds them.
std::condition_variable& Wake() {  // a message was posted or a timer set
  static auto* made = new std::condition_variable;
  return *made;
}
std::map<DWORD, Queue>& Queues() {
  static auto* made = new std::map<DWORD, Queue>;
  return *made;
}
std::vector<Timer>& Timers() {
  static auto* made = new std::vector<Timer>;
  return *made;
}
UINT_PTR g_next_thread_timer = 0x7FF0;
POINT g_cursor{0, 0};
std::atomic<void (*)(const MSG&)> g_posted_taken_hook{nullptr};
bool g_trace_messages = false;
std::mutex g_names_lock;
std::vector<std::string>& MessageNames() {
  static auto* made = new std::vector<std::string>;
  return *made;
}

void TraceMessage(HWND hwnd, UINT message) {
  if (!g_trace_messages) return;
  char buf[64];
  std::snprintf(buf, sizeof(buf), "msg %p 0x%x", static_cast<void*>(hwnd), message);
  host::RecordTrace(buf);
}

// Whether a message passes a PeekMessageA filter: a window (and its children), -1 for thread
// messages, NULL for all; a message range, 0-0 for all.
bool Matches(HWND msg_hwnd, UINT message, HWND filter, UINT lo, UINT hi) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (msg_hwnd) return false;
  } else if (filter && msg_hwnd != filter && !IsChild(filter, msg_hwnd)) {
    return false;
  }
  if (lo == 0 && hi == 0) return true;
  return message >= lo && message <= hi;
}

bool IsDue(const Timer& t, DWORD now) {
  return static_cast<LONG>(now - t.due) >= 0;
}

bool Post(DWORD thread, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  {
    std::lock_guard<std::mutex> l(g_lock);
    Queue& q = Queues()[thread];
    q.posted.push_back(MSG{hwnd, message, wparam, lparam, NowMs(), g_cursor});
    q.fresh |= InputKind(message);
  }
  Wake().notify_all();
  kernel::NotifyWaiters();
  return true;
}

// Finds the next message for the calling thread without waiting: posted messages (WM_QUIT in
// its turn), then WM_PAINT, then due timers.
bool Take(MSG* out, HWND filter, UINT lo, UINT hi, UINT remove) {
  const DWORD me = GetCurrentThreadId();
  host::Current().PollEvents();
  bool found = false;
  {
    std::lock_guard<std::mutex> l(g_lock);
    Queue& q = Queues()[me];
    q.fresh = 0;  // what is in the queue now has been seen
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
      if (!Matches(it->hwnd, it->message, filter, lo, hi)) continue;
      *out = *it;
      if (remove & PM_REMOVE) q.posted.erase(it);
      q.last = *out;
      found = true;
      break;
    }
  }
  if (found) {
    auto hook = g_posted_taken_hook.load();
    if (hook && (remove & PM_REMOVE)) hook(*out);
    return true;
  }
  {
    std::lock_guard<std::mutex> l(g_lock);
    Queue& q = Queues()[me];
    if (q.quit) {
      *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quit_code), 0, NowMs(), g_cursor};
      if (remove & PM_REMOVE) q.quit = false;
      q.last = *out;
      return true;
    }
  }
  if (TakeUpdateHint()) {
    bool pending = false;
    MSG paint{};
    for (const WindowPtr& w : AllWindows()) {
      if (!w->has_update) continue;
      pending = true;  // this one or another thread's window still waits for its paint
      if (w->thread != me || !w->visible || !IsWindowVisible(w->handle)) continue;
      if (!Matches(w->handle, WM_PAINT, filter, lo, hi) || paint.hwnd) continue;
      paint.hwnd = w->handle;
    }
    if (pending) SetUpdateHint();
    if (paint.hwnd) {
      std::lock_guard<std::mutex> l(g_lock);
      *out = MSG{paint.hwnd, WM_PAINT, 0, 0, NowMs(), g_cursor};
      Queues()[me].last = *out;
      return true;
    }
  }
  std::lock_guard<std::mutex> l(g_lock);
  DWORD now = NowMs();
  for (Timer& t : Timers()) {
    if (t.thread != me || !IsDue(t, now) || !Matches(t.hwnd, WM_TIMER, filter, lo, hi)) continue;
    *out = MSG{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), now, g_cursor};
    if (remove & PM_REMOVE) t.due = now + t.period;
    Queues()[me].last = *out;
    return true;
  }
  return false;
}

// Milliseconds until the calling thread's next timer is due, or -1 without timers.
int NextTimerIn(DWORD me) {
  std::lock_guard<std::mutex> l(g_lock);
  DWORD now = NowMs();
  LONG best = -1;
  for (const Timer& t : Timers()) {
    if (t.thread != me) continue;
    LONG left = std::max<LONG>(static_cast<LONG>(t.due - now), 0);
    if (best < 0 || left < best) best = left;
  }
  return best;
}

struct QueueWait {
  DWORD me;
  DWORD mask;
};

// Whether the thread's queue has input of the mask that it has not looked at, a due timer or a
// window waiting for its paint.
bool QueueReady(void* context) {
  const QueueWait& w = *static_cast<QueueWait*>(context);
  {
    std::lock_guard<std::mutex> l(g_lock);
    if (Queues()[w.me].fresh & w.mask) return true;
    if (w.mask & QS_TIMER) {
      DWORD now = NowMs();
      for (const Timer& t : Timers()) {
        if (t.thread == w.me && IsDue(t, now)) return true;
      }
    }
  }
  if (w.mask & QS_PAINT) {
    for (const WindowPtr& win : AllWindows()) {
      if (win->has_update && win->thread == w.me && win->visible && IsWindowVisible(win->handle)) return true;
    }
  }
  return false;
}

int QueueDueIn(void* context) {
  const QueueWait& w = *static_cast<QueueWait*>(context);
  return (w.mask & QS_TIMER) ? NextTimerIn(w.me) : -1;
}

void PollHost(void*) {
  host::Current().PollEvents();
}

}  // namespace

void SetPostedTakenHook(void (*hook)(const MSG& msg)) {
  g_posted_taken_hook = hook;
}

void KillWindowTimers(HWND hwnd) {
  std::lock_guard<std::mutex> l(g_lock);
  std::erase_if(Timers(), [&](const Timer& t) { return t.hwnd == hwnd; });
}

}  // namespace orvane::user

using namespace orvane::user;
namespace host = orvane::host;

namespace orvane::host {
void TraceMessages(bool on) {
  g_trace_messages = on;
}
void HostCursorMoved(int x, int y) {
  std::lock_guard<std::mutex> l(g_lock);
  g_cursor = {x, y};
}
}  // namespace orvane::host

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  WindowPtr w = Find(hwnd);
  if (!w || !w->proc) return 0;
  TraceMessage(hwnd, message);
  return w->proc(hwnd, message, wparam, lparam);
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!hwnd) return Post(GetCurrentThreadId(), nullptr, message, wparam, lparam) ? TRUE : FALSE;
  WindowPtr w = Find(hwnd);
  if (!w) return FALSE;
  return Post(w->thread, hwnd, message, wparam, lparam) ? TRUE : FALSE;
}

BOOL PostThreadMessageA(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
  return Post(thread_id, nullptr, message, wparam, lparam) ? TRUE : FALSE;
}

void PostQuitMessage(int exit_code) {
  {
    std::lock_guard<std::mutex> l(g_lock);
    Queue& q = Queues()[GetCurrentThreadId()];
    q.quit = true;
    q.quit_code = exit_code;
    q.fresh |= QS_POSTMESSAGE;
  }
  Wake().notify_all();
  orvane::kernel::NotifyWaiters();
}

BOOL PeekMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi, UINT remove) {
  if (!msg) return FALSE;
  if (hwnd && hwnd != reinterpret_cast<HWND>(-1) && !Find(hwnd)) return FALSE;
  return Take(msg, hwnd, lo, hi, remove) ? TRUE : FALSE;
}

BOOL GetMessageA(LPMSG msg, HWND hwnd, UINT lo, UINT hi) {
  if (!msg) return -1;
  if (hwnd && hwnd != reinterpret_cast<HWND>(-1) && !Find(hwnd)) return -1;
  const DWORD me = GetCurrentThreadId();
  const bool polled_host = std::strcmp(host::CurrentName(), "headless") != 0;
  for (;;) {
    if (Take(msg, hwnd, lo, hi, PM_REMOVE)) return msg->message == WM_QUIT ? FALSE : TRUE;
    int wait = NextTimerIn(me);
    // A host with its own events is polled every few milliseconds while we wait.
    if (polled_host && (wait < 0 || wait > 10)) wait = 10;
    if (polled_host) {
      host::Current().WaitEvents(wait);
      continue;
    }
    std::unique_lock<std::mutex> l(g_lock);
    Queue& q = Queues()[me];
    auto ready = [&] { return !q.posted.empty() || q.quit; };
    if (wait < 0) {
      // Nothing can arrive but a post (or a new timer, which also wakes us).
      size_t timers = Timers().size();
      Wake().wait(l, [&] { return ready() || Timers().size() != timers; });
    } else {
      orvane::WaitForNs(Wake(), l, static_cast<std::int64_t>(wait) * 1000000, ready);
    }
  }
}

LRESULT DispatchMessageA(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a procedure of a live timer is called: a posted WM_TIMER with any other lParam
    // must not become a call through an arbitrary address.
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    bool known;
    {
      std::lock_guard<std::mutex> l(g_lock);
      known = std::any_of(Timers().begin(), Timers().end(), [&](const Timer& t) {
        return t.hwnd == msg->hwnd && t.id == msg->wParam && t.proc == proc;
      });
    }
    if (known) proc(msg->hwnd, WM_TIMER, msg->wParam, NowMs());
    return 0;
  }
  if (!msg->hwnd) return 0;
  WindowPtr w = Peek(msg->hwnd);
  if (!w || !w->proc) return 0;
  SetCursorBeforeMouse(*msg);
  if (!(w = Peek(msg->hwnd))) return 0;
  TraceMessage(msg->hwnd, msg->message);
  LRESULT r = w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (msg->message == WM_PAINT) {
    // A procedure that did not validate would get WM_PAINT forever: the paint round is over.
    if (WindowPtr again = Peek(msg->hwnd)) again->has_update = false;
  }
  return r;
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  UINT m = msg->message;
  if (m != WM_KEYDOWN && m != WM_KEYUP && m != WM_SYSKEYDOWN && m != WM_SYSKEYUP) return FALSE;
  WPARAM ch = 0;
  if (m == WM_KEYDOWN) {
    switch (msg->wParam) {
      case VK_RETURN:
        ch = 0x0D;
        break;
      case VK_BACK:
        ch = 0x08;
        break;
      case VK_ESCAPE:
        ch = 0x1B;
        break;
      case VK_TAB:
        ch = 0x09;
        break;
      default:
        break;
    }
  }
  if (ch) {
    {
      std::lock_guard<std::mutex> l(g_lock);
      Queue& q = Queues()[GetCurrentThreadId()];
      q.posted.push_front(MSG{msg->hwnd, WM_CHAR, ch, msg->lParam, msg->time, msg->pt});
    }
    Wake().notify_all();
  }
  return TRUE;
}

LRESULT CallWindowProcA(WNDPROC proc, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return proc ? proc(hwnd, message, wparam, lparam) : 0;
}

LONG GetMessageTime() {
  std::lock_guard<std::mutex> l(g_lock);
  return static_cast<LONG>(Queues()[GetCurrentThreadId()].last.time);
}

BOOL GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  std::lock_guard<std::mutex> l(g_lock);
  *point = g_cursor;
  return TRUE;
}

BOOL SetCursorPos(int x, int y) {
  {
    std::lock_guard<std::mutex> l(g_lock);
    g_cursor = {x, y};
  }
  host::RecordTrace("SetCursorPos " + std::to_string(x) + " " + std::to_string(y));
  HWND target = GetCapture();
  if (!target) target = GetActiveWindow();
  if (target) {
    POINT p{x, y};
    ScreenToClient(target, &p);
    // The host moves its cursor over the top-level window, in that window's client coordinates.
    HWND root = target;
    for (HWND up = GetParent(root); up; up = GetParent(up)) root = up;
    POINT q{x, y};
    ScreenToClient(root, &q);
    host::Current().WarpCursor(root, q.x, q.y);
    PostMessageA(target, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
  }
  return TRUE;
}

DWORD GetMessagePos() {
  std::lock_guard<std::mutex> l(g_lock);
  const POINT& p = Queues()[GetCurrentThreadId()].last.pt;
  return static_cast<DWORD>(MAKELONG(p.x, p.y));
}

UINT RegisterWindowMessageA(LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard<std::mutex> l(g_names_lock);
  for (size_t i = 0; i < MessageNames().size(); ++i) {
    if (SameName(MessageNames()[i].c_str(), name)) return static_cast<UINT>(0xC000 + i);
  }
  if (MessageNames().size() >= 0x4000) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  MessageNames().emplace_back(name);
  return static_cast<UINT>(0xC000 + MessageNames().size() - 1);
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT milliseconds, TIMERPROC proc) {
  if (hwnd && !Find(hwnd)) return 0;
  UINT period = std::max<UINT>(milliseconds, 10);
  DWORD me = hwnd ? Peek(hwnd)->thread : GetCurrentThreadId();
  UINT_PTR result;
  {
    std::lock_guard<std::mutex> l(g_lock);
    if (!hwnd) {
      bool known = id && std::any_of(Timers().begin(), Timers().end(),
                                     [&](const Timer& t) { return !t.hwnd && t.id == id; });
      if (!known) id = g_next_thread_timer++;
    }
    std::erase_if(Timers(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    Timers().push_back(Timer{hwnd, id, period, proc, me, NowMs() + period});
    result = hwnd ? (id ? id : 1) : id;
  }
  Wake().notify_all();
  orvane::kernel::NotifyWaiters();
  return result;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> l(g_lock);
  size_t n = std::erase_if(Timers(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  return n ? TRUE : FALSE;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD ms,
                                DWORD wake_mask) {
  namespace kernel = orvane::kernel;
  if (count > MAXIMUM_WAIT_OBJECTS - 1 || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  if (wait_all && count > 1) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<kernel::Object>> objects(count);
  for (DWORD i = 0; i < count; ++i) {
    objects[i] = kernel::Lookup(handles[i]);
    if (!objects[i] || !objects[i]->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  QueueWait w{GetCurrentThreadId(), wake_mask};
  kernel::WaitCondition condition;
  condition.ready = QueueReady;
  condition.due_in = QueueDueIn;
  condition.context = &w;
  // A host with its own events (a real window system) gets them fetched while waiting.
  if (std::strcmp(host::CurrentName(), "headless") != 0) condition.poll = PollHost;
  return kernel::WaitAny(objects.data(), count, ms, &condition);
}

BOOL WaitMessage() {
  return MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 ? TRUE : FALSE;
}
