// The File unit under random read, seek and write sequences over a file of random bytes: every
// text read advances the position and stays within one buffer, nothing reads outside.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/cfilemanager.h"
#include "vm/script_loader.h"

namespace {

std::string& Dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/orvane_file_fuzz_XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d) + "/";
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static bool started = [] {
    SetProgramDirectory(Dir().c_str());
    return FileManager().Start();
  }();
  if (!started) std::abort();
  // First byte: how much of the rest is the file's content; the remainder are operations.
  size_t content = size > 1 ? (data[0] * (size - 1)) / 255 : 0;
  const uint8_t* ops = data + 1 + content;
  size_t nops = size - 1 - content;
  std::string path = Dir() + "f";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (content) std::fwrite(data + 1, 1, content, f);
  std::fclose(f);

  DRef<CScriptFile> a, b;
  FileManager().Open(&a, "f", DRef<DDataFile>(), 3);
  FileManager().Open(&b, "f", DRef<DDataFile>(), 1);
  if (!a || !b) std::abort();
  uint8_t buf[1100];
  for (size_t i = 0; i < nops; ++i) {
    uint8_t op = ops[i];
    uint8_t arg = i + 1 < nops ? ops[i + 1] : 0;
    CScriptFile& file = (op & 0x80) ? *b : *a;
    int32_t before = file.Tell();
    switch (op & 7) {
      case 0:
      case 1: {
        const char* t = file.ReadText((op & 1) != 0);
        if (t) {
          if (std::strlen(t) > 1023) std::abort();
          if (file.Tell() != -1 && before != -1 && file.Tell() <= before) std::abort();
        }
        break;
      }
      case 2:
        file.Read(buf, arg * 5);
        ++i;
        break;
      case 3:
        file.Seek(static_cast<int8_t>(arg) * 17, arg % 4);
        ++i;
        break;
      case 4: {
        size_t from = i + 2 <= nops ? i + 2 : nops;
        size_t n = arg % 64;
        if (n > nops - from) n = nops - from;
        file.Write(ops + from, static_cast<int32_t>(n));
        i += 1 + n;
        break;
      }
      case 5:
        file.WriteText(reinterpret_cast<const char*>("line"), (arg & 1) != 0);
        ++i;
        break;
      case 6:
        if (arg & 1) {
          file.Chop();
        } else {
          file.GetSize();
        }
        ++i;
        break;
      default:
        file.Rewind();
        break;
    }
  }
  // Reading texts to the end always ends.
  a->Rewind();
  for (int n = 0; a->ReadText(true); ++n) {
    if (n > 1 << 20) std::abort();
  }
  return 0;
}
