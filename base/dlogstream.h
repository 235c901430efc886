// DLogStream: the debug log stream (debugger output plus the log file beside the program).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/dfile.h"
#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dstring.h"
#include "platform/kernel.h"

// Every text written goes to the debugger output and, while a file is attached, to the file with
// its line ends made CR LF, flushed after each write. Lines begin with a bracketed tag such as
// "[Class::Method] " and end with "\n" or "\r\n"; callers build a line from several insertions.
//
// Lines never interleave between threads: while one thread has begun a line and not yet ended
// it, what other threads write is held back (in their order) and written when that line ends.
class DLogStream : public DObject {
 public:
  DLogStream() = default;
  DLogStream(const DLogStream&) = delete;
  DLogStream& operator=(const DLogStream&) = delete;
  ~DLogStream() override;

  void Write(const DString& text);

  DLogStream& operator<<(double value);
  DLogStream& operator<<(float value);
  DLogStream& operator<<(unsigned int value);
  DLogStream& operator<<(unsigned long value);
  DLogStream& operator<<(int value);
  DLogStream& operator<<(long value);
  DLogStream& operator<<(unsigned short value);
  DLogStream& operator<<(short value);
  DLogStream& operator<<(char value);
  DLogStream& operator<<(const DString& text);
  DLogStream& operator<<(const char* text) { return *this << DString(text); }

  // Writes what is held back, then makes the stream's file a whole view of the given file and
  // turns file output on.
  void AttachFile(DFile& file);
  // Writes what is held back, closes the stream's file and turns file output off; true.
  bool Close();
  void SetFileOutput(bool enable);

 private:
  // Sends text to the debugger output and the file (under the lock).
  void Emit(const char* text, size_t length);
  // Writes every held-back text whose turn has come (under the lock).
  void Drain(bool all);

  uint8_t file_output_ = 0;                          // text also goes to the file
  DFile file_;                                       // whole view of the log file
  DLock lock_;                                       // orders writes of all threads
  DWORD line_owner_ = 0;                             // thread whose line is begun and not ended; 0 when none
  std::vector<std::pair<DWORD, std::string>> held_;  // texts of other threads, in order
};

// The program's one log stream and its log file.
DLogStream& DDebugLog();
DFile& DDebugLogFile();

// Creates the log file beside the program (its name with the extension "log", replacing any old
// one), attaches it to the debug log and writes the header line. Always true: when the file
// cannot be created the log reaches the debugger output only.
bool OpenDebugLog();
// OpenDebugLog with the log file's path and the time of the header given.
bool OpenDebugLogAt(const DString& path, const SYSTEMTIME& now);
