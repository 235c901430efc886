// DLogStream: the debug log's writes, insertions, and the log file beside the program.
#include "base/dlogstream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "base/dapplication.h"
#include "base/dpath.h"

namespace {

// A thread's unfinished line is written anyway once it grows this long.
constexpr size_t kMaxPartial = 64 * 1024;

// Streams alive now; a thread that ends writes its unfinished lines only to these.
std::mutex& LiveLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::unordered_set<DLogStream*>& LiveStreams() {
  static auto* streams = new std::unordered_set<DLogStream*>;
  return *streams;
}

// The end of the last whole line in text: one past the last LF and the CRs right after it; 0
// when the text holds no LF.
size_t WholeLinesEnd(const std::string& text) {
  size_t lf = text.rfind('\n');
  if (lf == std::string::npos) return 0;
  size_t end = lf + 1;
  while (end < text.size() && text[end] == '\r') ++end;
  return end;
}

}  // namespace

// What one thread keeps for the streams: the streams that hold an unfinished line of it. When
// the thread ends, each of them that still exists writes that line.
struct DLogThreadLines {
  std::vector<DLogStream*> streams;
  ~DLogThreadLines() {
    std::lock_guard<std::mutex> live(LiveLock());
    for (DLogStream* stream : streams) {
      if (!LiveStreams().count(stream)) continue;
      DLockGuard guard(stream->lock_);
      stream->DrainOne(this);
    }
  }
};

namespace {

thread_local DLogThreadLines t_lines;

}  // namespace

DLogStream::DLogStream() {
  std::lock_guard<std::mutex> live(LiveLock());
  LiveStreams().insert(this);
}

DLogStream::~DLogStream() {
  {
    std::lock_guard<std::mutex> live(LiveLock());
    LiveStreams().erase(this);
  }
  Close();
}

void DLogStream::Emit(const char* text, size_t length) {
  if (length == 0) return;
  std::string piece(text, length);
  OutputDebugStringA(piece.c_str());
  if (!file_output_) return;
  // The file form of the text: CR dropped, LF made CR LF, the two bytes of a double-byte
  // character copied together so that a trail byte is never taken for a line end.
  std::string& out = scratch_;
  out.clear();
  out.reserve(length + length / 16 + 2);
  for (size_t i = 0; i < length;) {
    unsigned char c = text[i];
    if (DIsLeadByte(c) && i + 1 < length) {
      out.append(text + i, 2);
      i += 2;
      continue;
    }
    if (c == '\n') {
      out += "\r\n";
    } else if (c != '\r') {
      out += static_cast<char>(c);
    }
    ++i;
  }
  for (size_t at = 0; at < out.size();) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(out.size() - at, 1u << 30));
    if (file_.Write(out.data() + at, chunk) <= 0) break;  // write failures are not reported
    at += chunk;
  }
}

void DLogStream::DrainOne(const void* thread_key) {
  auto it = partial_.find(thread_key);
  if (it == partial_.end()) return;
  std::string text = std::move(it->second);
  partial_.erase(it);
  Emit(text.data(), text.size());
}

void DLogStream::DrainAll() {
  auto lines = std::move(partial_);
  partial_.clear();
  for (auto& [key, text] : lines) Emit(text.data(), text.size());
}

void DLogStream::Write(const DString& text) {
  const char* p = text.Get();
  if (!p) return;
  size_t length = std::strlen(p);
  if (length == 0) return;
  DLogThreadLines* self = &t_lines;
  DLockGuard guard(lock_);
  auto it = partial_.find(self);
  if (it == partial_.end()) {
    // Nothing waiting: whole lines go out at once, the unfinished rest waits.
    std::string rest(p, length);
    size_t whole = WholeLinesEnd(rest);
    Emit(p, whole);
    if (whole == length) return;
    rest.erase(0, whole);
    it = partial_.emplace(self, std::move(rest)).first;
    if (std::find(self->streams.begin(), self->streams.end(), this) == self->streams.end())
      self->streams.push_back(this);
  } else {
    it->second.append(p, length);
    size_t whole = WholeLinesEnd(it->second);
    if (whole > 0) {
      Emit(it->second.data(), whole);
      it->second.erase(0, whole);
    }
  }
  // A line that is never ended is written in pieces rather than kept without bound.
  if (it->second.size() > kMaxPartial) Emit(it->second.data(), it->second.size()), it->second.clear();
  if (it->second.empty()) partial_.erase(it);
}

void DLogStream::EndThreadLine() {
  DLockGuard guard(lock_);
  DrainOne(&t_lines);
}

namespace {

template <class T>
void WriteFormatted(DLogStream& log, const char* format, T value) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, value);  // cut to 255 characters
  log.Write(DString(buffer));
}

}  // namespace

DLogStream& DLogStream::operator<<(double value) {
  WriteFormatted(*this, "%f", value);
  return *this;
}
DLogStream& DLogStream::operator<<(float value) {
  WriteFormatted(*this, "%f", static_cast<double>(value));
  return *this;
}
DLogStream& DLogStream::operator<<(unsigned int value) {
  WriteFormatted(*this, "%u", value);
  return *this;
}
DLogStream& DLogStream::operator<<(unsigned long value) {
  WriteFormatted(*this, "%lu", value);
  return *this;
}
DLogStream& DLogStream::operator<<(int value) {
  WriteFormatted(*this, "%d", value);
  return *this;
}
DLogStream& DLogStream::operator<<(long value) {
  WriteFormatted(*this, "%ld", value);
  return *this;
}
DLogStream& DLogStream::operator<<(unsigned short value) {
  WriteFormatted(*this, "%u", static_cast<unsigned>(value));
  return *this;
}
DLogStream& DLogStream::operator<<(short value) {
  WriteFormatted(*this, "%d", static_cast<int>(value));
  return *this;
}
DLogStream& DLogStream::operator<<(char value) {
  WriteFormatted(*this, "%c", value);
  return *this;
}
DLogStream& DLogStream::operator<<(const DString& text) {
  Write(text);
  return *this;
}

void DLogStream::AttachFile(DFile& file) {
  DLockGuard guard(lock_);
  DrainAll();
  file_.Close();
  file_.OpenView(file, 0, DFile::kToEnd);
  file_.SetThrow(false);  // logging never fails visibly, whatever the given file's flag
  file_output_ = 1;
}

bool DLogStream::Close() {
  DLockGuard guard(lock_);
  DrainAll();
  file_.Close();
  file_output_ = 0;
  return true;
}

void DLogStream::SetFileOutput(bool enable) {
  DLockGuard guard(lock_);
  file_output_ = enable ? 1 : 0;
}

// Never destroyed: objects destroyed at exit may still log. Every whole line is written to the
// file at once, so nothing but an unfinished line is lost when the process ends with it open.
DLogStream& DDebugLog() {
  static DLogStream* log = new DLogStream;
  return *log;
}

DFile& DDebugLogFile() {
  static DFile* file = new DFile;
  return *file;
}

bool OpenDebugLogAt(const DString& path, const SYSTEMTIME& now) {
  DFile& file = DDebugLogFile();
  file.Close();
  if (!file.Open(path, DFile::kRead | DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew)) return true;
  DLogStream& log = DDebugLog();
  log.AttachFile(file);
  log << "Orvane Debug Log(" << unsigned{now.wYear} << "/" << unsigned{now.wMonth} << "/"
      << unsigned{now.wDay} << " " << unsigned{now.wHour} << ":" << unsigned{now.wMinute} << ":"
      << unsigned{now.wSecond} << ")\n";
  return true;
}

bool OpenDebugLog() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char directory[264], name[264], path[264];
  if (DApplication* app = DGetApplication()) {
    const char* d = app->GetDirectory().GetText();
    const char* n = app->GetApplicationName().GetText();
    if (!*n || std::strlen(d) >= sizeof directory || std::strlen(n) >= sizeof name) return true;
    std::strcpy(directory, d);
    std::strcpy(name, n);
  } else {
    char program[264] = {};
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return true;  // no usable path: debugger output only
    DSplitPath(DString(program), directory, name, nullptr);
  }
  DMargePath(path, DString(directory), DString(name), DString("log"));
  return OpenDebugLogAt(DString(path), now);
}
