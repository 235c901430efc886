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
#include "imaging/dimg_load.h"
#include "platform/hostpath.h"
#include "platform/kernel.h"

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
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

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
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

// Channel of a masked pixel scaled to 8 bits: wider channels keep their top bits, narrower ones
// are shifted up without replication (a 5-bit 31 becomes 248).
std::uint8_t MaskedChannel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const int width = 32 - __builtin_clz(mask) - shift;
  const std::uint32_t v = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>(width >= 8 ? v >> (width - 8) : v << (8 - width));
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

// The whole file from position 0. Refuses empty files and files over 2^31 - 1 bytes (the plug-in
// interface counts in 32 bits). File failures throw when the caller's file is set to throw.
bool ReadWholeFile(DFile& file, std::vector<std::uint8_t>* data) {
  file.Seek(DFile::kSeekStart, 0);
  const std::int64_t size = file.GetSize();
  if (size <= 0 || size > 0x7fffffff) return false;
  data->resize(static_cast<std::size_t>(size));
  return file.Read(data->data(), static_cast<std::uint32_t>(size)) == size;
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

bool DimgParseDibInfo(const std::uint8_t* info, std::size_t info_size, DimgDibLayout* layout) {
  if (info == nullptr || info_size < 40) return false;
  const std::uint32_t header_size = U32(info);
  if (header_size < 40 || header_size > info_size) return false;
  const std::int32_t width = static_cast<std::int32_t>(U32(info + 4));
  const std::int32_t height = static_cast<std::int32_t>(U32(info + 8));
  const std::uint32_t bit_count = U16(info + 14);
  const std::uint32_t compression = U32(info + 16);
  const std::uint32_t colours_used = U32(info + 32);
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 &&
      bit_count != 32)
    return false;
  const bool bitfields = compression == kBiBitfields;
  if (compression != kBiRgb && !(bitfields && (bit_count == 16 || bit_count == 32))) return false;
  const std::uint32_t rows =
      height < 0 ? static_cast<std::uint32_t>(-height) : static_cast<std::uint32_t>(height);
  if (!DimgSizeWithinCap(width, rows, 3) || !DimgSizeWithinCap(width, rows, 4)) return false;

  DimgDibLayout out;
  out.width = width;
  out.rows = rows;
  out.bottom_up = height > 0;
  out.bit_count = bit_count;
  out.row_bytes = (static_cast<std::size_t>(bit_count) * static_cast<std::size_t>(width) + 31) / 32 * 4;
  // A 40-byte header is followed by the three masks; longer headers hold them at offset 40.
  std::size_t table = header_size;
  if (bitfields) {
    if (info_size < 52) return false;
    for (int i = 0; i < 3; ++i) out.masks[i] = U32(info + 40 + 4 * i);
    if (header_size == 40) table += 12;
  } else if (bit_count == 16) {
    out.masks[0] = 0x7C00, out.masks[1] = 0x03E0, out.masks[2] = 0x001F;
  } else if (bit_count == 32) {
    out.masks[0] = 0xFF0000, out.masks[1] = 0xFF00, out.masks[2] = 0xFF;
  }
  if (bit_count <= 8) {
    const std::uint32_t max_entries = 1u << bit_count;
    const std::uint64_t entries = colours_used == 0 ? max_entries : colours_used;
    if (table > info_size || entries * 4 > info_size - table) return false;
    out.palette = info + table;
    out.palette_count = static_cast<std::uint32_t>(std::min<std::uint64_t>(entries, max_entries));
  }
  *layout = out;
  return true;
}

void DimgDibToBgr888(const DimgDibLayout& layout, const std::uint8_t* bits, std::size_t bits_size,
                     std::uint8_t* dst, std::size_t dst_pitch) {
  const std::size_t width = static_cast<std::size_t>(layout.width);
  std::vector<std::uint8_t> row(layout.row_bytes);
  for (std::uint32_t r = 0; r < layout.rows; ++r) {
    // Stored row r, zero-filled where the block ends early.
    const std::size_t start = static_cast<std::size_t>(r) * layout.row_bytes;
    const std::size_t have = start < bits_size ? std::min(layout.row_bytes, bits_size - start) : 0;
    if (have > 0) std::memcpy(row.data(), bits + start, have);
    std::memset(row.data() + have, 0, layout.row_bytes - have);
    const std::uint32_t y = layout.bottom_up ? layout.rows - 1 - r : r;
    std::uint8_t* out = dst + static_cast<std::size_t>(y) * dst_pitch;
    for (std::size_t x = 0; x < width; ++x, out += 3) {
      std::uint32_t index = 0;
      switch (layout.bit_count) {
        case 1:
          index = (row[x >> 3] >> (7 - (x & 7))) & 1;
          break;
        case 4:
          index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
          break;
        case 8:
          index = row[x];
          break;
        case 24:
          out[0] = row[x * 3], out[1] = row[x * 3 + 1], out[2] = row[x * 3 + 2];
          continue;
        default: {
          const std::uint32_t px = layout.bit_count == 16 ? U16(&row[x * 2]) : U32(&row[x * 4]);
          out[0] = MaskedChannel(px, layout.masks[2]);
          out[1] = MaskedChannel(px, layout.masks[1]);
          out[2] = MaskedChannel(px, layout.masks[0]);
          continue;
        }
      }
      if (index < layout.palette_count) {
        const std::uint8_t* e = layout.palette + index * 4;
        out[0] = e[0], out[1] = e[1], out[2] = e[2];
      } else {
        out[0] = out[1] = out[2] = 0;
      }
    }
    std::memset(dst + static_cast<std::size_t>(y) * dst_pitch + width * 3, 0, dst_pitch - width * 3);
  }
}

bool DimgLoadSusie(DImage& image, DFile& file) {
  // The whole file in memory, refused when empty or too large for the plug-in interface.
  std::vector<std::uint8_t> data;
  if (!ReadWholeFile(file, &data)) return false;
  const char* name = file.GetName();
  const std::size_t size = data.size();
  // Plug-ins may read 4096 bytes from the head and from head + 128: a shorter file is offered in
  // a zero-filled buffer that holds both.
  std::vector<std::uint8_t> small_head;
  std::uint8_t* head = data.data();
  if (size < kHeadBytes + kRetryOffset) {
    small_head.assign(kHeadBytes + kRetryOffset, 0);
    std::memcpy(small_head.data(), data.data(), size);
    head = small_head.data();
  }

  const DSusiePlugin* chosen = nullptr;
  bool by_retry = false;
  for (const DSusiePlugin& plugin : DSusiePluginList()) {
    if (plugin.is_supported(name, head) != 0) {
      chosen = &plugin;
      break;
    }
    if (plugin.is_supported(name, head + kRetryOffset) != 0) {
      chosen = &plugin;
      by_retry = true;
      break;
    }
  }
  if (chosen == nullptr) return false;

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
