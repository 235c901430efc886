// Packing a folder into a KMF data-file archive.
#pragma once

#include <string>

namespace kmfpack {

// Packs every regular file below dir (host paths, UTF-8) into a new archive at out. Each member
// is named by its path below dir in cp932 with '/' between components, folded as the archive's
// lookups fold names; members are stored in the order of those names, so the same files always
// give the same bytes. False with *error on a name cp932 cannot spell, a name of 264 bytes or
// more, two files whose names fold alike, or a read or write failure.
bool PackDirectory(const std::string& dir, const std::string& out, std::string* error);

}  // namespace kmfpack
