// Susie-style image plug-ins: the plug-in list, the claim and decode calls, and the DIB converter.
#include "imaging/dimg_susie.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/dfile.h"
#include "imaging/dimage.h"
#include "imaging/dimg_common.h"
#include "platform/hostpath.h"
#include "platform/kernel.h"

namespace {

constexpr std::size_t kHeadBytes = 4096;
constexpr std::size_t kRetryOffset = 128;

// One loaded plug-in.
struct DSusiePlugin {
  void* module;      // dlopen handle, closed by _DSusieTerm
  std::string path;  // where it was loaded from
  DSusieIsSupportedFn is_supported;
  DSusieGetPictureInfoFn get_picture_info;
  DSusieGetPictureFn get_picture;
};

// The loaded plug-ins in claim order.
std::vector<DSusiePlugin>& DSusiePluginList() {
  static std::vector<DSusiePlugin> list;
  return list;
}

// Case-insensitive ASCII order of two names.
bool NameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = (a[i] >= 'A' && a[i] <= 'Z') ? a[i] + 32 : static_cast<unsigned char>(a[i]);
    const int cb = (b[i] >= 'A' && b[i] <= 'Z') ? b[i] + 32 : static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;  // names equal but for case: keep a fixed order anyway
}

bool EqualsNoCase(const char* a, const char* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    const int ca = (*a >= 'A' && *a <= 'Z') ? *a + 32 : *a;
    const int cb = (*b >= 'A' && *b <= 'Z') ? *b + 32 : *b;
    if (ca != cb) return false;
  }
  return *a == 0 && *b == 0;
}

// True when name ends in ".spi", in any letter case.
bool HasSpiExtension(const std::string& name) {
  return name.size() > 4 && EqualsNoCase(name.c_str() + name.size() - 4, ".spi");
}

// Loads one candidate file and logs what happened; a taken plug-in joins the list.
void LoadPlugin(const std::string& path) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return;  // not a loadable module: no trace
  auto info = reinterpret_cast<DSusieGetPluginInfoFn>(dlsym(module, "GetPluginInfo"));
  if (info == nullptr) {
    dimg_detail::Log(
        {"[_DSusieInit] can't get ", "\"", "GetPluginInfo", "\"", " in ", "\"", path.c_str(), "\"", "\n"});
    dlclose(module);
    return;
  }
  char text[257] = {};  // one byte more than the plug-in may fill, so the text always ends
  if (info(0, text, 256) == 0 || !EqualsNoCase(text, "00IN")) {
    dimg_detail::Log({"[_DSusieInit] ", "\"", path.c_str(), "\"", ": version error.", "\n"});
    dlclose(module);
    return;
  }
  DSusiePlugin plugin{module, path, reinterpret_cast<DSusieIsSupportedFn>(dlsym(module, "IsSupported")),
                      reinterpret_cast<DSusieGetPictureInfoFn>(dlsym(module, "GetPictureInfo")),
                      reinterpret_cast<DSusieGetPictureFn>(dlsym(module, "GetPicture"))};
  if (plugin.is_supported == nullptr || plugin.get_picture_info == nullptr || plugin.get_picture == nullptr) {
    dimg_detail::Log({"[_DSusieInit] ", "\"", path.c_str(), "\"", ": can't find functions.", "\n"});
    dlclose(module);
    return;
  }
  DSusiePluginList().push_back(std::move(plugin));
  dimg_detail::Log({"[_DSusieInit] ", "\"", path.c_str(), "\"", ": loaded.", "\n"});
}

// The directory of the running program as a host path with a trailing '/', or "" when unknown.
std::string ProgramDirectory() {
  char path[264] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return "";
  std::string host;
  if (!orvane::HostPathFromEngine(path, &host)) return "";
  const std::size_t slash = host.find_last_of('/');
  return slash == std::string::npos ? "" : host.substr(0, slash + 1);
}

// Creates image as BGR888 with the 24-bit DIB row size as pitch and fills it from the plug-in's
// bitmap.
bool FillImage(DImage& image, const DimgDibLayout& layout, const std::uint8_t* bits, std::size_t bits_size) {
  const std::uint32_t width = static_cast<std::uint32_t>(layout.width);
  const std::uint32_t pitch = (width * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> rows(std::size_t{pitch} * layout.rows);
  DimgDibToBgr888(layout, bits, bits_size, rows.data(), pitch);
  if (!image.Create(width, layout.rows, pitch, DimgFormat::BGR888)) return false;
  image.GetTopLine();
  for (std::uint32_t y = 0; y < layout.rows; ++y)
    std::memcpy(image.GetPixelPointer(0, static_cast<std::int32_t>(y)), rows.data() + std::size_t{pitch} * y,
                pitch);
  image.Unlock();
  return true;
}

// Releases the two blocks a plug-in returned, whatever state they are in.
void FreeLocal(HLOCAL info, HLOCAL bits, bool info_locked, bool bits_locked) {
  if (info_locked) LocalUnlock(info);
  if (bits_locked) LocalUnlock(bits);
  if (info != nullptr) LocalFree(info);
  if (bits != nullptr) LocalFree(bits);
}

}  // namespace

void _DSusieInitDirectory(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (HasSpiExtension(name)) names.push_back(std::move(name));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), NameLess);
  std::string base = directory;
  if (!base.empty() && base.back() != '/') base += '/';
  for (const std::string& name : names) {
    const std::string path = base + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    const auto& list = DSusiePluginList();
    if (std::any_of(list.begin(), list.end(), [&](const DSusiePlugin& p) { return p.path == path; }))
      continue;
    LoadPlugin(path);
  }
}

void _DSusieInit() {
  const std::string dir = ProgramDirectory();
  if (!dir.empty()) _DSusieInitDirectory(dir);
}

void _DSusieTerm() {
  auto& list = DSusiePluginList();
  for (DSusiePlugin& plugin : list) dlclose(plugin.module);
  list.clear();
  list.shrink_to_fit();
}

std::size_t DSusiePluginCount() {
  return DSusiePluginList().size();
}

bool DimgInitialize() {
  _DSusieInit();
  return true;
}

void DimgTerminate() {
  _DSusieTerm();
}

bool DimgLoadSusie(DImage& image, DFile& file) {
  if (DSusiePluginList().empty()) return false;  // nobody to ask: the file is not read
  file.Seek(DFile::kSeekStart, 0);
  const std::int64_t file_size = file.GetSize();
  if (file_size <= 0 || file_size > 0x7fffffff) return false;
  const std::size_t size = static_cast<std::size_t>(file_size);
  const char* name = file.GetName();
  // Plug-ins may read 4096 bytes from the head and from head + 128: the claims get that much of
  // the file's start, zero-filled past its end.
  std::vector<std::uint8_t> head(kHeadBytes + kRetryOffset, 0);
  const std::size_t head_bytes = std::min(size, head.size());
  if (file.Read(head.data(), static_cast<std::uint32_t>(head_bytes)) != static_cast<std::int64_t>(head_bytes))
    return false;

  const DSusiePlugin* chosen = nullptr;
  bool by_retry = false;
  for (const DSusiePlugin& plugin : DSusiePluginList()) {
    if (plugin.is_supported(name, head.data()) != 0) {
      chosen = &plugin;
      break;
    }
    if (plugin.is_supported(name, head.data() + kRetryOffset) != 0) {
      chosen = &plugin;
      by_retry = true;
      break;
    }
  }
  if (chosen == nullptr) return false;

  // Claimed: now the whole file.
  std::vector<std::uint8_t> data(size);
  std::memcpy(data.data(), head.data(), head_bytes);
  const std::size_t rest = size - head_bytes;
  if (rest > 0 && file.Read(data.data() + head_bytes, static_cast<std::uint32_t>(rest)) !=
                      static_cast<std::int64_t>(rest))
    return false;
  const std::uint8_t* picture = data.data();
  std::size_t length = size;
  if (by_retry && size >= kRetryOffset) picture += kRetryOffset, length -= kRetryOffset;
  HLOCAL info_handle = nullptr;
  HLOCAL bits_handle = nullptr;
  if (chosen->get_picture(reinterpret_cast<const char*>(picture), static_cast<long>(length), 1, &info_handle,
                          &bits_handle, nullptr, 0) != 0) {
    FreeLocal(info_handle, bits_handle, false, false);
    return false;
  }
  const auto* info = static_cast<const std::uint8_t*>(LocalLock(info_handle));
  const auto* bits = static_cast<const std::uint8_t*>(LocalLock(bits_handle));
  bool ok = false;
  DimgDibLayout layout;
  if (info != nullptr && bits != nullptr && DimgParseDibInfo(info, LocalSize(info_handle), &layout)) {
    ok = FillImage(image, layout, bits, LocalSize(bits_handle));
  }
  FreeLocal(info_handle, bits_handle, info != nullptr, bits != nullptr);
  return ok;
}
