// Fuzz target: mounts arbitrary bytes as a KMF archive and reads every member it finds.
#include <cstddef>
#include <cstdint>

#include "base/ddatafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 24)) return 0;
  DFile file;
  if (!file.OpenMemory(DString("fuzz.kmf"), static_cast<uint32_t>(size), DFile::kRead | DFile::kWrite))
    return 0;
  if (file.Write(data, static_cast<uint32_t>(size)) != static_cast<int64_t>(size)) return 0;
  DDataFile archive;
  if (!archive.Mount(file)) return 0;
  char buffer[4096];
  for (uint32_t i = 0; DDataFileMember* member = archive.GetMember(i); ++i) {
    DFile view;
    if (!archive.OpenMember(member, view)) continue;
    while (view.Read(buffer, sizeof buffer) > 0) {
    }
    archive.Find(DString(archive.GetMemberName(member)));
  }
  return 0;
}
