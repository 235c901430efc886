// Sound effects and background music.
#include "game/sound.h"

#include <cstring>
#include <map>

#include "base/dpath.h"
#include "base/dstring.h"
#include "game/engine_api.h"
#include "game/error_report.h"
#include "game/resource.h"
#include "game/sprite.h"
#include "game/tokenizer.h"

namespace {

constexpr const char* kBgmList = "bgm/list.txt";
constexpr size_t kTokenSize = 1024;

DRef<DSoundRes> g_current_se;

// The music table, kept by number: only the numbers the list defines hold a record, so a huge
// number costs one record. Numbers are searched in ascending order.
std::map<int32_t, DBgm>* g_bgm_table = nullptr;
int64_t g_bgm_count = 0;
ApiHandle* g_stream = nullptr;
char g_bgm_name[kBgmNameSize] = "";

std::map<int32_t, DBgm>& Table() {
  if (!g_bgm_table) g_bgm_table = new std::map<int32_t, DBgm>();
  return *g_bgm_table;
}

void EmptyTable() {
  delete g_bgm_table;
  g_bgm_table = nullptr;
  g_bgm_count = 0;
}

// Names compare by byte length, then ignoring the case of ASCII letters.
bool SameName(const char* a, const char* b) {
  return DStrCompareNoCase(DString(a), DString(b)) == 0;
}

[[noreturn]] void MissingData() {
  FatalError("BGM定義ファイルにおいてデータが不足しています");
}

// One line of the list: nothing for a blank line, else one "@bgm" entry into the table.
void ReadListLine(const char* line) {
  char name[kTokenSize];
  char value[kTokenSize];
  const char* cursor = line;
  bool end = false;
  ReadOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
  if (name[0] == '\0') return;
  if (DStrCompareNoCase(DString(name), DString("@bgm")) != 0)
    FatalError("BGM定義ファイルに不正なコマンド \"%s\" が存在します。", name);
  if (end) MissingData();
  int32_t number = -1;
  DBgm record;
  while (!end) {
    ReadOption(cursor, name, sizeof(name), value, sizeof(value), end, 0);
    if (name[0] == '\0') continue;
    if (DStrCompareNoCase(DString(name), DString("no")) == 0) {
      number = ToInt(value);
    } else if (DStrCompareNoCase(DString(name), DString("name")) == 0) {
      DStrCopyToCharBoundary(value, record.name, sizeof(record.name));
    } else if (DStrCompareNoCase(DString(name), DString("prelude")) == 0) {
      DStrCopyToCharBoundary(value, record.prelude, sizeof(record.prelude));
    } else if (DStrCompareNoCase(DString(name), DString("body")) == 0) {
      DStrCopyToCharBoundary(value, record.body, sizeof(record.body));
    } else {
      FatalError("BGM定義ファイルに不正なオプション\"%s\"が存在します", name);
    }
  }
  if (number < 0 || record.name[0] == '\0') MissingData();
  if (number >= g_bgm_count) g_bgm_count = int64_t{number} + 1;
  Table()[number] = record;
}

void StopStream() {
  if (!g_stream) return;
  g_engine.ovStopStream(g_stream);
  g_engine.ovDestroyStream(g_stream);
  g_stream = nullptr;
}

void AddToStream(const char* file, int32_t repeat) {
  if (file[0] == '\0') return;
  char path[kPathSize];
  DMargePath(path, DString("bgm"), DString(file), DString(""));
  g_engine.ovAddStreamList(g_stream, path, repeat, 0.0f, 0);
}

}  // namespace

void sePlay(const char* path) {
  sprRender();
  DRef<DSoundRes> record = LoadSoundCached(path ? path : "", 1);
  g_current_se = record;
  if (record->handle) g_engine.ovPlaySound(record->handle, 0);
}

void ReleaseSe() {
  g_current_se.Release();
}

void LoadBgmList() {
  EmptyTable();
  // Music still playing from before is stopped rather than lost with its handle.
  StopStream();
  g_bgm_name[0] = '\0';
  if (!g_engine.ovIsFileExist(kBgmList)) return;
  DRef<DFileRes> file = OpenFileRes(kBgmList, 1);
  while (const char* line = g_engine.ovReadFileLine(file->handle)) ReadListLine(line);
}

void bgmPlay(const char* name) {
  if (!name) name = "";
  if (SameName(name, g_bgm_name)) return;
  DStrCopyToCharBoundary(name, g_bgm_name, sizeof(g_bgm_name));
  StopStream();
  if (name[0] == '\0') return;
  const DBgm* found = nullptr;
  if (g_bgm_table) {
    for (const auto& entry : *g_bgm_table) {
      if (!SameName(entry.second.name, name)) continue;
      found = &entry.second;
      break;
    }
  }
  if (!found) FatalError("BGM \"%s\" を再生できません。", name);
  if (found->prelude[0] == '\0' && found->body[0] == '\0') return;
  // Without a stream there is silence; the name stays current.
  g_stream = g_engine.ovCreateStream();
  if (!g_stream) return;
  AddToStream(found->prelude, 0);
  AddToStream(found->body, -1);
  g_engine.ovPlayStream(g_stream);
}

void ReleaseBgm() {
  EmptyTable();
  if (g_stream) {
    g_engine.ovDestroyStream(g_stream);
    g_stream = nullptr;
  }
  g_bgm_name[0] = '\0';
}

int64_t BgmCount() {
  return g_bgm_count;
}

const DBgm* BgmRecord(int64_t number) {
  if (!g_bgm_table || number < 0 || number > INT32_MAX) return nullptr;
  auto it = g_bgm_table->find(static_cast<int32_t>(number));
  return it == g_bgm_table->end() ? nullptr : &it->second;
}

const char* CurrentBgmName() {
  return g_bgm_name;
}

ApiHandle* CurrentBgmStream() {
  return g_stream;
}
