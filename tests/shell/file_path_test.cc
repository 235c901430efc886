// The File unit's path rule: absolute against the program's directory (no task runs here), "/"
// separators, and a refusal wherever the resolver would have cut the result at 263 bytes.
#include <gtest/gtest.h>

#include <string>

#include "shell/cfilemanager.h"
#include "vm/script_loader.h"

namespace {

TEST(FilePath, AbsoluteFormsUpToTheirLimit) {
  const std::string saved = GetProgramDirectory();
  const std::string base = "/a/" + std::string(100, 'p') + "/";  // 104 bytes
  SetProgramDirectory(base.c_str());
  const std::string parent = "/a/";
  const struct {
    std::string path;
    std::string out;  // empty: refused
  } rows[] = {
      {std::string(159, 'n'), base + std::string(159, 'n')},  // 263 bytes: fits
      {std::string(160, 'n'), ""},                            // 264: would be cut
      {"x\\y/" + std::string(155, 'n'), base + "x/y/" + std::string(155, 'n')},
      {"../" + std::string(200, 'n'), parent + std::string(200, 'n')},
      {"../" + std::string(260, 'n'), parent + std::string(260, 'n')},  // climbs to exactly 263
      {".../" + std::string(259, 'n'), "/" + std::string(259, 'n')},    // two levels up
      {"/" + std::string(262, 'r'), "/" + std::string(262, 'r')},
      {"/" + std::string(263, 'r'), ""},           // 264 bytes as given
      {std::string(150, 'n') + ".extension", ""},  // the extension would be cut off
      {"", base},
      // A drive before a relative path stays in front of the result.
      {"C:" + std::string(157, 'n'), "C:" + base + std::string(157, 'n')},   // 263 bytes
      {"C:" + std::string(158, 'n'), ""},                                    // 264
      {"C:\\x\\" + std::string(255, 'r'), "C:/x/" + std::string(255, 'r')},  // rooted: as given
  };
  for (const auto& row : rows) {
    char out[264];
    const bool ok = FileAbsolutePath(out, row.path.c_str());
    EXPECT_EQ(ok, !row.out.empty()) << row.path;
    EXPECT_EQ(std::string(out), row.out) << row.path;
  }
  char out[264];
  EXPECT_FALSE(FileAbsolutePath(out, nullptr));
  const std::string longer_base = "/ab/" + std::string(100, 'p') + "/";
  SetProgramDirectory(longer_base.c_str());
  EXPECT_FALSE(FileAbsolutePath(out, ("../" + std::string(260, 'n')).c_str()));  // 264 once climbed
  SetProgramDirectory(saved.c_str());
}

}  // namespace
