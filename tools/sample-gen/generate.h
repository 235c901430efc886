// The sample-data generator: every asset of a manifest drawn into a folder, and a tree of UTF-8
// text files copied beside them as cp932.
#pragma once

#include <string>
#include <string_view>

namespace samplegen {

// Converts UTF-8 text to cp932 line by line. False with *error "line N: reason" at the first line
// that is not UTF-8 or holds a character cp932 lacks. Line ends are kept as they are.
bool TextToCp932(std::string_view utf8, std::string* cp932, std::string* error);

// Draws every asset of the manifest file into out_dir and copies every file below data_dir
// into out_dir at the same relative path, converted to cp932 (host paths stay UTF-8). False
// with *error "<file>: line N: reason" (or "<file>: reason") at the first fault; files written
// until then stay.
bool Generate(const std::string& manifest, const std::string& data_dir, const std::string& out_dir,
              std::string* error);

}  // namespace samplegen
