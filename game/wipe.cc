// The wipe registry: a list of named wipes in registration order.
#include "game/wipe.h"

#include "base/dreflist.h"
#include "base/dstring.h"
#include "game/error_report.h"
#include "game/tokenizer.h"

namespace {

DRefList<DWipe> g_wipes;

}  // namespace

void RegisterWipe(const char* name, const char* image, int32_t time, int32_t after_wait) {
  if (FindWipe(name)) ScriptError("すでに%sというワイプは存在します。", name);
  DRef<DWipe> entry;
  entry.Alloc(1);
  DStrCopyToCharBoundary(name, entry->name, sizeof(entry->name));
  if (image && image[0]) entry->wipe = LoadWipeRes(image);
  entry->time = time < 0 ? 0 : static_cast<uint32_t>(time);
  entry->after_wait = after_wait < 0 ? 0 : static_cast<uint32_t>(after_wait);
  g_wipes.PushBack(entry);
}

DWipe* FindWipe(const char* name) {
  const DString wanted(name ? name : "");
  for (auto it = g_wipes.Begin(); !(it == g_wipes.End()); it = it.Next()) {
    DRef<DWipe> entry = it.Value();
    if (DStrCompareNoCase(DString(entry->name), wanted) == 0) return entry.Get();
  }
  return nullptr;
}

DWipe& GetWipe(const char* name) {
  DWipe* wipe = FindWipe(name);
  if (!wipe) ScriptError("\"%s\"というワイプは存在しません。", name);
  return *wipe;
}

void ClearWipes() {
  g_wipes.Clear();
}
