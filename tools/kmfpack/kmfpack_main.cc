// kmfpack: packs a folder into a KMF data-file archive.
#include <iostream>
#include <string>

#include "tools/kmfpack/kmfpack.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kmfpack OUT.dat DIR\n";
    return 2;
  }
  std::string error;
  if (!kmfpack::PackDirectory(argv[2], argv[1], &error)) {
    std::cerr << "kmfpack: " << error << "\n";
    return 1;
  }
  return 0;
}
