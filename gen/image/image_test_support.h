#pragma once
// Shared by the image builder's unit tests: a compile state of its own with an empty temporary
// image, the image's bytes read back, and the standard output of a call captured as text.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "compile_state.h"
#include "name_tables.h"

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    s.Pass = 1;
    s.Image = std::tmpfile();
    ASSERT_NE(s.Image, nullptr);
  }

  void TearDown() override {
    if (s.Image != nullptr) std::fclose(s.Image);
    s.Image = nullptr;
    FreeNames(s);
  }

  // The whole image as it stands, blank where nothing was written, as the compile's end leaves
  // it; without moving the stream's position.
  std::vector<uint8_t> ImageBytes() {
    FILE* f = s.Image;
    std::fflush(f);
    long keep = std::ftell(f);
    ImageFillBlanks(ImageOf(s));
    std::fseek(f, 0, SEEK_END);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    bytes.resize(got);
    std::fseek(f, keep, SEEK_SET);
    return bytes;
  }

  // n bytes from position; positions past the end read as nothing.
  std::vector<uint8_t> ImageAt(size_t position, size_t n) {
    std::vector<uint8_t> all = ImageBytes();
    if (position >= all.size()) return {};
    size_t end = position + n < all.size() ? position + n : all.size();
    return std::vector<uint8_t>(all.begin() + static_cast<long>(position),
                                all.begin() + static_cast<long>(end));
  }

  // A fresh compile state that keeps the open image, for table-driven cases.
  void ResetKeepingImage() {
    FILE* image = s.Image;
    s = CompileState();
    s.Image = image;
    s.Pass = 1;
  }

  // Starts over with an empty image, for table-driven cases that each need one.
  void FreshImage() {
    std::fclose(s.Image);
    s.Image = std::tmpfile();
    ASSERT_NE(s.Image, nullptr);
  }

  // Replaces the image by a stream that refuses every write.
  void UseReadOnlyImage() {
    std::fclose(s.Image);
    s.Image = std::fopen("/dev/null", "rb");
    ASSERT_NE(s.Image, nullptr);
  }

  static void StartCapture() { testing::internal::CaptureStdout(); }
  static std::string EndCapture() {
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  CompileState s;
};

// Runs call with standard output captured; the output lands in *out, the call's result is
// returned.
template <typename Call>
int Captured(std::string* out, Call call) {
  testing::internal::CaptureStdout();
  int r = call();
  std::fflush(stdout);
  *out = testing::internal::GetCapturedStdout();
  return r;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}
