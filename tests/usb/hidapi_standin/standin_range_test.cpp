// Qs71UsbVerifyRange of the production library, unchanged, against the hidapi stand-in: the
// same job frame as Qs71UsbWriter's through the real Linux port, silent when it goes well.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "captured_cout.h"
#include "standin_library.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;

TEST(HidapiStandinRange, ComparesRangesThroughHidapi) {
  const WriterLibrary& lib = Production();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  const StandinLibrary& standin = LoadedStandin();
  ASSERT_TRUE(standin.Loaded()) << standin.error;
  SharedLibrary production;
  std::string error;
  ASSERT_TRUE(production.Open(QS71_PRODUCTION_LIBRARY, error)) << error;
  const auto verifyRange = production.Find<Qs71UsbVerifyRangeFunction>("Qs71UsbVerifyRange");
  ASSERT_NE(verifyRange, nullptr);

  standin.reset();
  const std::vector<uint8_t> fresh = standin.Chip();
  const std::vector<uint8_t> image =
      ValidImage(kSize, std::vector<uint8_t>(fresh.end() - 512, fresh.end()), 23);
  const std::string imagePath = (ScratchFolder(QS71_TEST_TMPDIR, "standin_range") / "image.bin").string();
  WriteFile(imagePath, image);
  Job write;
  write.write = true;
  write.imageFile = imagePath.c_str();
  ASSERT_EQ(lib.Call(write).result, 0);

  CapturedCout captured;
  int32_t otpSize = -1;
  EXPECT_EQ(verifyRange(&otpSize, 0, kSize, 5.0, imagePath.c_str()), 0);
  EXPECT_EQ(verifyRange(&otpSize, 0x1000, 256, 5.0, nullptr), 1) << "written, so not blank";
  EXPECT_EQ(otpSize, static_cast<int32_t>(kSize));
  EXPECT_EQ(captured.Text(), "");
  EXPECT_EQ(standin.Unsettled(), "");
  standin.reset();
}

}  // namespace
}  // namespace qs71::test
