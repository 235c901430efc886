// sample-gen: draws the sample game's pictures and sounds from its manifest and copies its text
// files as cp932, into one output folder.
#include <iostream>
#include <string>

#include "tools/sample-gen/generate.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: sample-gen ASSETS DATA_DIR OUT_DIR\n";
    return 2;
  }
  std::string error;
  if (!samplegen::Generate(argv[1], argv[2], argv[3], &error)) {
    std::cerr << error << "\n";
    return 1;
  }
  return 0;
}
