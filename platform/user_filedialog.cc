// The open and save file dialogs: the host asks for a file, the answer is filled into the block.
#include <cstring>
#include <string>

#include "platform/cp932.h"
#include "platform/host.h"
#include "platform/hostpath.h"
#include "platform/user_internal.h"

namespace host = orvane::host;

namespace {

DWORD g_last_error = 0;

BOOL RunFileDialog(LPOPENFILENAMEA ofn, bool save) {
  g_last_error = 0;
  if (!ofn || ofn->lStructSize != sizeof(OPENFILENAMEA) || !ofn->lpstrFile || ofn->nMaxFile == 0) {
    g_last_error = 0x0001;  // CDERR_STRUCTSIZE: the block cannot be used
    return FALSE;
  }
  // The initial file is the buffer's text, cut at its size when it has no NUL.
  std::string initial(ofn->lpstrFile, strnlen(ofn->lpstrFile, ofn->nMaxFile));
  host::RecordTrace(std::string(save ? "filedialog save" : "filedialog open") + " '" + initial + "'");
  std::string chosen;
  std::string initial_host;
  if (!orvane::HostPathFromEngine(initial, &initial_host)) initial_host = host::Cp932ToUtf8(initial);
  if (!host::Current().FileDialog(save, initial_host.c_str(), &chosen) || chosen.empty()) {
    return FALSE;  // cancelled: the buffer keeps its text
  }
  std::string path;
  orvane::EnginePathFromHost(chosen, &path);  // names cp932 cannot spell keep their host bytes
  if (path.size() + 1 > ofn->nMaxFile) {
    g_last_error = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  std::memcpy(ofn->lpstrFile, path.c_str(), path.size() + 1);
  // Offsets of the file name and of its extension within the path.
  size_t name = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (orvane::cp932::IsLeadByte(c)) {
      ++i;
      continue;
    }
    if (c == '\\' || c == '/') name = i + 1;
  }
  size_t dot = path.rfind('.');
  ofn->nFileOffset = static_cast<WORD>(name);
  ofn->nFileExtension = static_cast<WORD>(dot != std::string::npos && dot >= name ? dot + 1 : path.size());
  if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
    std::string title = path.substr(name);
    size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
    std::memcpy(ofn->lpstrFileTitle, title.data(), n);
    ofn->lpstrFileTitle[n] = 0;
  }
  return TRUE;
}

}  // namespace

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  return RunFileDialog(ofn, false);
}
BOOL GetSaveFileNameA(LPOPENFILENAMEA ofn) {
  return RunFileDialog(ofn, true);
}
DWORD CommDlgExtendedError() {
  return g_last_error;
}
