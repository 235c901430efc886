// A temporary directory for one test, with host-file helpers; removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace orvane_test {

class ScratchDir {
 public:
  // Makes a fresh directory /tmp/<prefix>XXXXXX; throws when it cannot.
  explicit ScratchDir(const std::string& prefix) {
    std::string tmpl = "/tmp/" + prefix + "XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot make a scratch directory");
    dir_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes bytes to the file `name` inside the directory.
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  // The whole content of the file `name` inside the directory ("" when it cannot be read).
  std::string Read(const std::string& name) const { return ReadPath(Path(name)); }
  // The whole content of the host file at `path`.
  static std::string ReadPath(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string dir_;
};

}  // namespace orvane_test
