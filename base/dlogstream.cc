// DLogStream: the debug log's writes, insertions, and the log file beside the program.
#include "base/dlogstream.h"

#include <cstdio>
#include <cstring>

#include "base/dpath.h"

namespace {

constexpr size_t kMaxHeld = 64 * 1024;

// True when the text ends a line: its last byte other than CR is LF.
bool EndsLine(const char* text, size_t length) {
  while (length > 0 && text[length - 1] == '\r') --length;
  return length > 0 && text[length - 1] == '\n';
}

}  // namespace

DLogStream::~DLogStream() {
  Close();
}

void DLogStream::Emit(const char* text, size_t length) {
  std::string piece(text, length);
  OutputDebugStringA(piece.c_str());
  if (!file_output_) return;
  char buffer[256];
  size_t used = 0;
  for (size_t i = 0; i < length;) {
    if (used >= 254) {
      file_.Write(buffer, static_cast<uint32_t>(used));
      used = 0;
    }
    unsigned char c = text[i];
    if (DIsLeadByte(c) && i + 1 < length) {
      buffer[used++] = text[i];
      buffer[used++] = text[i + 1];
      i += 2;
      continue;
    }
    if (c == '\n') {
      buffer[used++] = '\r';
      buffer[used++] = '\n';
    } else if (c != '\r') {
      buffer[used++] = static_cast<char>(c);
    }
    ++i;
  }
  if (used) file_.Write(buffer, static_cast<uint32_t>(used));
  file_.Flush();
}

void DLogStream::Drain(bool all) {
  while (!held_.empty() && (all || line_owner_ == 0)) {
    auto [thread, text] = std::move(held_.front());
    held_.erase(held_.begin());
    Emit(text.data(), text.size());
    line_owner_ = EndsLine(text.data(), text.size()) ? 0 : thread;
  }
  if (all) line_owner_ = 0;
}

void DLogStream::Write(const DString& text) {
  const char* p = text.Get();
  if (!p) return;
  size_t length = std::strlen(p);
  if (length == 0) return;
  DWORD self = GetCurrentThreadId();
  DLockGuard guard(lock_);
  if (line_owner_ != 0 && line_owner_ != self) {
    size_t held_bytes = 0;
    bool appended = false;
    for (auto& [thread, pending] : held_) {
      if (thread == self) {
        pending.append(p, length);
        appended = true;
      }
      held_bytes += pending.size();
    }
    if (!appended) {
      held_.emplace_back(self, std::string(p, length));
      held_bytes += length;
    }
    // A line that is never ended must not hold the other threads' text back for ever.
    if (held_bytes > kMaxHeld) Drain(true);
    return;
  }
  Emit(p, length);
  line_owner_ = EndsLine(p, length) ? 0 : self;
  if (line_owner_ == 0) Drain(false);
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
  Drain(true);
  file_.Close();
  file_.OpenView(file, 0, DFile::kToEnd);
  file_.SetThrow(false);  // logging never fails visibly, whatever the given file's flag
  file_output_ = 1;
}

bool DLogStream::Close() {
  DLockGuard guard(lock_);
  Drain(true);
  file_.Close();
  file_output_ = 0;
  return true;
}

void DLogStream::SetFileOutput(bool enable) {
  DLockGuard guard(lock_);
  file_output_ = enable ? 1 : 0;
}

// Never destroyed: objects destroyed at exit may still log. The file is flushed after every
// write, so nothing is lost when the process ends with it open.
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
  char program[264] = {};
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program) return true;  // no usable path: debugger output only
  char directory[264], name[264], path[264];
  DSplitPath(DString(program), directory, name, nullptr);
  DMargePath(path, DString(directory), DString(name), DString("log"));
  return OpenDebugLogAt(DString(path), now);
}
