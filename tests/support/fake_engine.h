// A fake of the engine's exported API for the game's tests, generated from the export list.
//
// Every export has a slot; the fake binds a slot function for each name. Modelled exports
// (messages, the exit flag, reading files from an in-memory file system, path joining) behave as
// the engine's do; an export that is not modelled fails the running test when it is called. A
// test may put its own function into any slot. Engine objects are handles that record their kind,
// so a wrong kind, a double destroy or a leak fails the test.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/ov_api.h"

namespace orvane_test {

// One function per export, named like the export.
struct FakeExports {
#define OV_EXPORT(position, name, return_type, params) OvFn_##name name;
#include "api/export_list.h"
#undef OV_EXPORT
};

class FakeEngine {
 public:
  struct Message {
    std::string text;
    std::string caption;
    int32_t flag;
  };

  // Becomes the current fake (one at a time).
  FakeEngine();
  // Fails the test for every handle that was not destroyed.
  ~FakeEngine();
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

  // The current fake; fails the test and returns null when there is none.
  static FakeEngine* Current();
  // Binding by name: the current fake's slot for an export name, null for any other name. The
  // context is not used.
  static void* Lookup(void* context, const char* name);

  // The slots; a test may replace any of them with a function of the same signature.
  FakeExports& Exports() { return exports_; }

  // Every export called, in order (modelled or not).
  const std::vector<std::string>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  void Record(const char* name) { calls_.push_back(name); }

  // ovMessage: every box shown, and the answer it gives (0: OK or Yes, 1: No).
  const std::vector<Message>& Messages() const { return messages_; }
  void SetMessageAnswer(int32_t answer) { message_answer_ = answer; }
  // ovIsExit's answer.
  void SetExit(bool exiting) { exiting_ = exiting; }

  // The in-memory file system that ovCreateFile (mode 1), ovReadFileLine, ovDestroyFile and
  // ovIsFileExist work on; paths are compared byte for byte.
  void AddFile(const std::string& path, const std::string& bytes) { files_[path] = bytes; }
  void RemoveFile(const std::string& path) { files_.erase(path); }
  // File objects open now.
  int OpenFileCount() const;

  // Handles: a new one of a kind; the record behind a handle when it is live and of that kind
  // (otherwise the test fails and the result is null); destroying one (a second destroy fails).
  struct Handle {
    std::string kind;
    bool live = true;
    std::string path;              // files: the path opened
    size_t position = 0;           // files: next byte to read
    bool error = false;            // files: the end was read
    std::unique_ptr<char[]> line;  // files: the last line handed out
  };
  ApiHandle* NewHandle(const std::string& kind);
  Handle* Check(ApiHandle* handle, const std::string& kind, const char* export_name);
  void Destroy(ApiHandle* handle, const std::string& kind, const char* export_name);

  // Fails the test for a call of an export that is not modelled.
  static void Unmodelled(const char* name);

  // The models of the modelled exports.
  int32_t Message_(const char* text, const char* caption, int32_t flag);
  int32_t IsExit() const { return exiting_ ? 1 : 0; }
  ApiHandle* CreateFile(const char* path, int32_t mode);
  const char* ReadFileLine(ApiHandle* file);
  int32_t IsFileExist(const char* path) const;

 private:
  FakeExports exports_;
  std::vector<std::string> calls_;
  std::vector<Message> messages_;
  int32_t message_answer_ = 0;
  bool exiting_ = false;
  std::map<std::string, std::string> files_;
  std::vector<std::unique_ptr<Handle>> handles_;
  FakeEngine* previous_;
};

}  // namespace orvane_test
