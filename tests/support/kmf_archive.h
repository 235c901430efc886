// Builds KMF archives for tests: "KMF ", the member count, then per member its name's length, the
// name, the data offset and size (little-endian 32-bit), then the members' data back to back.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace orvane_test {

inline std::string KmfArchive(const std::vector<std::pair<std::string, std::string>>& members) {
  auto u32 = [](uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
  };
  std::string dir = "KMF " + u32(static_cast<uint32_t>(members.size())), data;
  uint32_t offset = 8;
  for (const auto& m : members) offset += 12 + static_cast<uint32_t>(m.first.size());
  for (const auto& m : members) {
    dir += u32(static_cast<uint32_t>(m.first.size())) + m.first + u32(offset) +
           u32(static_cast<uint32_t>(m.second.size()));
    offset += static_cast<uint32_t>(m.second.size());
    data += m.second;
  }
  return dir + data;
}

}  // namespace orvane_test
