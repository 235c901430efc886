// The headless host: windows exist only in the window manager, boxes and file dialogs take the
// answers a test scripted (host_common.cc), and the trace keeps what happened.
#include <cstdio>

#include "platform/host.h"
#include "platform/hostpath.h"

namespace orvane::host {
namespace {

bool HeadlessCreate(HWND, const char*, int, int, int, int, bool) {
  return true;
}

int HeadlessMessageBox(HWND, const char* text_utf8, const char* caption_utf8, UINT type) {
  // Nobody sees a headless box: its text goes to stderr so that a run's messages are not lost.
  std::fprintf(stderr, "[%s] %s\n", caption_utf8 ? caption_utf8 : "", text_utf8 ? text_utf8 : "");
  int id;
  return TakeMessageBoxAnswer(&id) ? id : DefaultButton(type);
}

bool HeadlessFileDialog(bool, const char*, std::string* chosen) {
  std::string answer;
  if (!TakeFileDialogAnswer(&answer) || answer.empty()) return false;
  if (!orvane::HostTextFromEngine(answer, chosen)) *chosen = Cp932ToUtf8(answer);
  return true;
}

}  // namespace

const HostHooks& HeadlessHost() {
  static const HostHooks hooks = [] {
    HostHooks h{};
    h.name = "headless";
    h.CreateWindow = HeadlessCreate;
    h.MessageBox = HeadlessMessageBox;
    h.FileDialog = HeadlessFileDialog;
    return h;
  }();
  return hooks;
}

}  // namespace orvane::host
