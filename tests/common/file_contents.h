#pragma once
// A whole file as the tests compare it: text for printed output, bytes for images and WAVs.
// A file that cannot be read gives an empty result, which no expectation takes for output.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  const std::string text = ReadFileText(path);
  return {text.begin(), text.end()};
}
