#include "tools/kmfpack/kmfpack.h"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "base/ddatafile.h"
#include "base/dfile.h"
#include "platform/hostpath.h"

namespace kmfpack {
namespace {

namespace fs = std::filesystem;

// Host path to the engine's form, which DFile::Open maps back to the same host file.
std::string EnginePath(const std::string& host) {
  std::string engine;
  orvane::EnginePathFromHost(fs::absolute(host).string(), &engine);
  return engine;
}

}  // namespace

bool PackDirectory(const std::string& dir, const std::string& out, std::string* error) {
  std::vector<std::pair<std::string, std::string>> members;  // folded cp932 name, host path
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    if (!it->is_regular_file(ec)) return *error = it->path().string() + ": not a regular file", false;
    const std::string rel = fs::relative(it->path(), dir).generic_string();
    std::string name;
    if (!orvane::Utf8ToCp932(rel, &name)) return *error = rel + ": a name cp932 cannot spell", false;
    if (name.size() >= 264) return *error = rel + ": name longer than 263 bytes", false;
    DDataFile::FoldName(name.data());
    members.emplace_back(name, it->path().string());
  }
  if (ec) return *error = dir + ": cannot read the folder", false;
  std::sort(members.begin(), members.end());
  for (size_t i = 1; i < members.size(); ++i)
    if (members[i].first == members[i - 1].first)
      return *error = members[i].second + " and " + members[i - 1].second + " fold to one member name", false;

  DDataFile archive;
  archive.Create();
  for (const auto& [name, host] : members) {
    DFile source;
    const std::string path = EnginePath(host);
    if (!source.Open(DString(path.c_str()), DFile::kRead)) return *error = host + ": cannot read", false;
    if (!archive.AddMember(DString(name.c_str()), source)) return *error = host + ": cannot add", false;
  }
  DFile target;
  const std::string path = EnginePath(out);
  if (!target.Open(DString(path.c_str()), DFile::kWrite | DFile::kOpenAlways | DFile::kCreateNew) ||
      !archive.Save(target) || !target.Close())
    return *error = out + ": cannot write", false;
  return true;
}

}  // namespace kmfpack
