// DLogStream: the debug log stream (debugger output plus the log file beside the program).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/dfile.h"
#include "base/dlock.h"
#include "base/dobject.h"
#include "base/dstring.h"
#include "platform/kernel.h"

// Every text written goes to the debugger output and, while a file is attached, to the file with
// its line ends made CR LF. Lines begin with a bracketed tag such as "[Class::Method] " and end
// with "\n" or "\r\n"; callers build a line from several insertions.
//
// Each thread's unfinished line waits in that thread's own buffer, and only whole lines are
// written, so lines of two threads never interleave and no thread's lines wait for another's.
// An unfinished line is written when its thread ends, at Close, and when it grows past 64 KB.
// Every line is handed to the system at once (one write); nothing is synced to the disk, which
// is not needed for the log to survive a crash of the process.
class DLogStream : public DObject {
 public:
  DLogStream();
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

  // Writes the unfinished lines, then makes the stream's file a whole view of the given file and
  // turns file output on.
  void AttachFile(DFile& file);
  // Writes the unfinished lines, closes the stream's file and turns file output off; true.
  bool Close();
  void SetFileOutput(bool enable);

  // Writes the calling thread's unfinished line now (a thread's end does this by itself).
  void EndThreadLine();

 private:
  // Sends text to the debugger output and the file (under the lock).
  void Emit(const char* text, size_t length);
  // Writes every thread's unfinished line (under the lock).
  void DrainAll();
  // Writes the unfinished line kept under this key, if any (under the lock).
  void DrainOne(const void* thread_key);

  uint8_t file_output_ = 0;  // text also goes to the file
  DFile file_;               // whole view of the log file
  DLock lock_;               // orders writes of all threads
  // Unfinished lines, by the writing thread's key (the address of its thread-local record).
  std::unordered_map<const void*, std::string> partial_;
  std::string scratch_;  // the file form of one text (under the lock)

  friend struct DLogThreadLines;
};

// The program's one log stream and its log file.
DLogStream& DDebugLog();
DFile& DDebugLogFile();

// Creates the log file in the application's directory, named after the application with the
// extension "log" (replacing any old one), attaches it to the debug log and writes the header
// line. Without an application object the program's own path gives directory and name. Always
// true: when the file cannot be created the log reaches the debugger output only.
bool OpenDebugLog();
// OpenDebugLog with the log file's path and the time of the header given.
bool OpenDebugLogAt(const DString& path, const SYSTEMTIME& now);
