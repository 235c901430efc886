#include "tools/sample-gen/generate.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "platform/hostpath.h"
#include "tools/sample-gen/manifest.h"
#include "tools/sample-gen/picture.h"
#include "tools/sample-gen/sound.h"

namespace samplegen {
namespace {

namespace fs = std::filesystem;

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

bool MakeAsset(const Asset& a, std::string* bytes, std::string* error) {
  if (a.kind == AssetKind::kPng) {
    Canvas canvas(a.width, a.height, a.alpha);
    if (!DrawPicture(a, &canvas, error)) return false;
    if (!EncodePng(canvas, bytes))
      return *error = "line " + std::to_string(a.line) + ": cannot encode the PNG", false;
    return true;
  }
  const std::vector<std::int16_t> samples = MixTones(a);
  if (a.kind == AssetKind::kWav) {
    *bytes = EncodeWav(samples, a.rate);
    return true;
  }
  if (!EncodeOgg(samples, a.rate, bytes))
    return *error = "line " + std::to_string(a.line) + ": the Vorbis encoder refuses this rate", false;
  return true;
}

}  // namespace

bool TextToCp932(std::string_view utf8, std::string* cp932, std::string* error) {
  cp932->clear();
  std::string piece;
  int line = 0;
  while (!utf8.empty()) {
    ++line;
    const size_t end = utf8.find('\n');
    const std::string_view row = utf8.substr(0, end == std::string_view::npos ? utf8.size() : end + 1);
    utf8.remove_prefix(row.size());
    if (!orvane::Utf8ToCp932(row, &piece)) {
      *error = "line " + std::to_string(line) + ": not UTF-8 or a character cp932 lacks";
      return false;
    }
    *cp932 += piece;
  }
  return true;
}

bool Generate(const std::string& manifest, const std::string& data_dir, const std::string& out_dir,
              std::string* error) {
  std::string text;
  if (!ReadFile(manifest, &text)) return *error = manifest + ": cannot read", false;
  std::vector<Asset> assets;
  std::string reason;
  if (!ParseManifest(text, &assets, &reason)) return *error = manifest + ": " + reason, false;

  // Data files first, in name order, so a clash with an asset names the asset's line.
  std::set<std::string> written;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(data_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    if (!it->is_regular_file(ec)) return *error = it->path().string() + ": not a regular file", false;
    files.push_back(it->path());
  }
  if (ec) return *error = data_dir + ": cannot read the folder", false;
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string rel = fs::relative(file, data_dir).generic_string();
    if (!CheckDataPath(rel, &reason)) return *error = file.string() + ": " + reason, false;
    std::string bytes, converted;
    if (!ReadFile(file.string(), &bytes)) return *error = file.string() + ": cannot read", false;
    if (!TextToCp932(bytes, &converted, &reason)) return *error = file.string() + ": " + reason, false;
    if (!WriteFile(fs::path(out_dir) / rel, converted))
      return *error = out_dir + "/" + rel + ": cannot write", false;
    written.insert(rel);
  }
  for (const Asset& a : assets) {
    if (written.count(a.path))
      return *error =
                 manifest + ": line " + std::to_string(a.line) + ": \"" + a.path + "\" is also a data file",
             false;
    std::string bytes;
    if (!MakeAsset(a, &bytes, &reason)) return *error = manifest + ": " + reason, false;
    if (!WriteFile(fs::path(out_dir) / a.path, bytes))
      return *error = out_dir + "/" + a.path + ": cannot write", false;
  }
  return true;
}

}  // namespace samplegen
