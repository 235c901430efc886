// meiasm: assembles the text form of a script into a .mei image, or into an executable carrying it.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/meiasm/meiasm.h"

namespace {

// Converts UTF-8 text to cp932; false when the text is not UTF-8 or has no cp932 form.
bool Utf8ToCp932(const std::string& in, std::string* out) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 2 + 16, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out->data();
  size_t dst_left = out->size();
  const size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return false;
  out->resize(out->size() - dst_left);
  return true;
}

int Usage() {
  std::cerr << "usage: meiasm [--cp932] [--exe] INPUT.asm OUTPUT\n"
               "  --cp932  the input is cp932 already (default: UTF-8, converted to cp932)\n"
               "  --exe    write a minimal executable with the image appended\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool cp932 = false, exe = false;
  std::string input, output;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cp932")
      cp932 = true;
    else if (a == "--exe")
      exe = true;
    else if (!a.empty() && a[0] == '-')
      return Usage();
    else if (input.empty())
      input = a;
    else if (output.empty())
      output = a;
    else
      return Usage();
  }
  if (input.empty() || output.empty()) return Usage();

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::cerr << "meiasm: cannot read " << input << "\n";
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!cp932) {
    std::string converted;
    if (!Utf8ToCp932(text, &converted)) {
      std::cerr << "meiasm: " << input
                << " is not UTF-8 text with a cp932 form (use --cp932 for cp932 input)\n";
      return 1;
    }
    text = std::move(converted);
  }
  std::vector<uint8_t> image;
  try {
    image = meiasm::Assemble(text);
  } catch (const meiasm::Error& e) {
    std::cerr << input << ": " << e.what() << "\n";
    return 1;
  }
  if (exe) image = meiasm::WrapInExecutable(image);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out.flush()) {
    std::cerr << "meiasm: cannot write " << output << "\n";
    return 1;
  }
  return 0;
}
