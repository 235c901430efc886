// Fuzz target: an arbitrary item definition file and save text read at a chapter start: the text
// before the first NUL byte is the chapter's "item.txt", the rest the save file that
// LoadItemDefs (owned items) and InitLife (life and the no-life target) read. Play-ending errors
// are caught as start catches them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/game_stand_in_engine.h"
#include "game/court.h"
#include "game/scenario.h"

namespace {

// One save file for the whole run, rewritten for each input.
const std::string& SavePath() {
  static const std::string path = [] {
    char name[] = "/tmp/game_item_fuzz_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) __builtin_trap();
    close(fd);
    return std::string(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  using namespace stand_in_engine;
  StartPlay();
  SetChapterFolder("c");
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  g_files["c/item.txt"] = input.substr(0, split);
  {
    FILE* save = std::fopen(SavePath().c_str(), "wb");
    if (!save) __builtin_trap();
    if (split != std::string::npos) std::fwrite(input.data() + split + 1, 1, input.size() - split - 1, save);
    std::fclose(save);
  }
  try {
    LoadItemDefs(split != std::string::npos, SavePath().c_str());
    for (uint32_t n = 0; n < ItemCount(); ++n) {
      const DItem* item = ItemAt(n);
      if (!item || std::strlen(item->name) > 255 || std::strlen(item->image) > 263) __builtin_trap();
    }
    if (ItemCount() > kMaxItemNumber + 1u || ItemCapacity() < ItemCount()) __builtin_trap();
  } catch (const DExceptGame&) {
  }
  try {
    InitLife(true, SavePath().c_str());
    if (std::strlen(NolifeTarget()) > 263) __builtin_trap();
  } catch (const DExceptGame&) {
  }
  ResetCourtGlobals();
  EndPlay();
  return 0;
}
