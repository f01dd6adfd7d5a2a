#include "shared_library.h"

#include <gtest/gtest.h>

namespace {

using Cosine = double (*)(double);

TEST(SharedLibrary, FindsAnExportByName) {
  SharedLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open("libm.so.6", error)) << error;
  const auto cosine = library.Find<Cosine>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_FALSE(library.Exports("Qs71UsbWriter"));
  // A moved-from library no longer owns the handle, so it cannot close it under the new owner.
  SharedLibrary moved = std::move(library);
  EXPECT_FALSE(library.IsOpen());
  EXPECT_TRUE(moved.Exports("cos"));
}

TEST(SharedLibrary, SaysWhyAFileDidNotOpen) {
  SharedLibrary library;
  std::string error;
  EXPECT_FALSE(library.Open("/nonexistent/libx.so", error));
  EXPECT_NE(error.find("/nonexistent/libx.so"), std::string::npos) << error;
  EXPECT_FALSE(library.IsOpen());
}

TEST(SharedLibrary, NamesFilesAsTheSystemDoes) {
  EXPECT_EQ(SharedLibraryFileName("qs71_usb_writer"), "libqs71_usb_writer.so");
}

}  // namespace
