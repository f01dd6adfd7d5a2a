#include "image/image_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "result_codes.h"

namespace {

struct Write {
  int32_t position;
  int32_t count;
  uint8_t byte;
};

// What the blank image was before the writes: every byte of it 0xFF, then each write over it
// in order; bytes past the blank size that no write reaches stay 0.
std::vector<uint8_t> Expected(int32_t size, const std::vector<Write>& writes) {
  std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
  for (const Write& w : writes) {
    if (image.size() < static_cast<size_t>(w.position + w.count)) image.resize(static_cast<size_t>(w.position + w.count), 0);
    for (int32_t i = 0; i < w.count; ++i) image[static_cast<size_t>(w.position + i)] = w.byte;
  }
  return image;
}

std::vector<uint8_t> ReadAll(FILE* f) {
  std::fflush(f);
  std::fseek(f, 0, SEEK_END);
  std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  return bytes;
}

// Only the bytes no write reached are blanked at the end, whatever the order and overlap of
// the writes, and nothing past the kept size; a part blanked early (after the first write) is
// blank where no write came after it, and the writer's position stays where it was.
TEST(ImageBlanksTest, FillsExactlyWhatNoWriteReached) {
  const std::vector<std::vector<Write>> rows = {
      {},
      {{0, 64, 0x11}},
      {{10, 5, 0x01}, {15, 5, 0x02}, {30, 4, 0x03}},
      {{20, 10, 0x01}, {5, 20, 0x02}, {25, 10, 0x03}, {0, 1, 0x04}},
      {{40, 8, 0x01}, {8, 8, 0x02}, {12, 40, 0x03}, {63, 1, 0x04}},
      {{5, 20, 0x01}, {10, 2, 0x02}, {24, 4, 0x03}},
      {{60, 10, 0x01}, {80, 2, 0x02}},
      {{3, 2, 0x00}, {1, 1, 0xFF}, {3, 2, 0x05}, {2, 1, 0x06}},
  };
  for (size_t row = 0; row < rows.size(); ++row) {
    for (bool early : {false, true}) {
      FILE* f = std::tmpfile();
      ASSERT_NE(f, nullptr);
      ImageBlanks blanks;
      const ImageStream image{f, "image", nullptr, &blanks};
      ASSERT_TRUE(ImageKeepBlank(image, 64)) << "this file system cannot reserve";
      for (const Write& w : rows[row]) {
        const std::vector<uint8_t> bytes(static_cast<size_t>(w.count), w.byte);
        ASSERT_EQ(ImageWriteAt(image, w.position, bytes.data(), bytes.size()), ErrNone);
        if (!early || &w != &rows[row].front()) continue;
        ASSERT_EQ(ImageFillBlanksEarly(image, 32, 48), ErrNone);
        EXPECT_EQ(ImageTell(image), w.position + w.count);
      }
      ASSERT_EQ(ImageFillBlanks(image), ErrNone);
      EXPECT_EQ(ReadAll(f), Expected(64, rows[row])) << "row " << row << (early ? ", blanked early" : "");
      std::fclose(f);
    }
  }
}

}  // namespace
