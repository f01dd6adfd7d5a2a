// The two deliverables meet only through the image file: an image that qs71gen made from the
// demo project is blank-checked, written and verified on the emulated programmer.
#include <gtest/gtest.h>

#include <string>

#include "process_runner.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

TEST(GeneratedImage, DemoProjectIsWrittenAndVerified) {
  const WriterLibrary& lib = Emulated();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  lib.reset();
  const std::string image = (ScratchFolder(QS71_TEST_TMPDIR, "generated") / "demo.bin").string();
  const testsupport::ProcessResult gen =
      testsupport::RunProcess({QS71GEN_PATH, "demo.qs", image}, {.folder = QS71_EXAMPLES_DIR});
  ASSERT_EQ(gen.exitCode, 0);

  Job job;
  job.blankCheck = job.write = job.verify = true;
  job.imageFile = image.c_str();
  const Outcome first = lib.Call(job);
  EXPECT_EQ(first.result, 0) << first.output;
  EXPECT_NE(first.output.find("Verify OTP complete.\n"), std::string::npos);
  EXPECT_EQ(first.otpSize, 262144);
  EXPECT_EQ(first.progress, 262143);

  // With the marker cleared on writing the part still verifies against the same file.
  lib.reset();
  job.clearMarker = true;
  const Outcome cleared = lib.Call(job);
  EXPECT_EQ(cleared.result, 0) << cleared.output;
  EXPECT_EQ(lib.Chip()[262144 - 31], 0x00);
  lib.reset();
}

}  // namespace
}  // namespace qs71::test
