#include "platform/writer_library.h"

#include <gtest/gtest.h>

#include "file_system.h"
#include "platform/host_system.h"

namespace qs71prog {
namespace {

TEST(LibraryCandidates, ExplicitPathIsTheOnlyOne) {
  EXPECT_EQ(LibraryCandidates("/opt/x.so", true, "/usr/bin", {}),
            std::vector<std::string>{"/opt/x.so"});
}

TEST(LibraryCandidates, BesideTheProgramThenLibThenTheLoadersSearch) {
  EXPECT_EQ(LibraryCandidates("", false, "/opt/qs71/bin", {"/build/tools", "/build/usbwriter"}),
            (std::vector<std::string>{"/opt/qs71/bin/libqs71_usb_writer.so",
                                      "/opt/qs71/bin/../lib/libqs71_usb_writer.so",
                                      "libqs71_usb_writer.so"}));
  EXPECT_EQ(LibraryCandidates("", true, "", {}),
            std::vector<std::string>{"libqs71_usb_writer_emulated.so"});
}

// Only the qs71prog that the build made looks into the build's library folder.
TEST(LibraryCandidates, TheBuildTreesProgramAlsoTriesTheBuildsLibraries) {
  const std::string here = ExecutableDirectory();
  const auto candidates = LibraryCandidates("", true, here, {here + "/.", "/build/usbwriter"});
  ASSERT_EQ(candidates.size(), 4u);
  EXPECT_EQ(candidates[2], "/build/usbwriter/libqs71_usb_writer_emulated.so");
  EXPECT_EQ(candidates[3], "libqs71_usb_writer_emulated.so");
}

TEST(WriterLibrary, SaysWhyNothingLoaded) {
  WriterLibrary library;
  std::string error;
  EXPECT_FALSE(LoadWriterLibrary(library, {"/nonexistent/a.so", "/nonexistent/b.so"}, error));
  EXPECT_NE(error.find("cannot load the programmer library: /nonexistent/a.so"), std::string::npos)
      << error;
  EXPECT_NE(error.find("; /nonexistent/b.so"), std::string::npos) << error;
  EXPECT_EQ(library.Job(), nullptr);
}

TEST(WriterLibrary, RefusesALibraryWithoutTheExport) {
  WriterLibrary library;
  std::string error;
  EXPECT_FALSE(library.Load("libm.so.6", error));
  EXPECT_EQ(error, "libm.so.6 has no Qs71UsbJob, Qs71UsbCompareRange and Qs71UsbListProgrammers");
}

TEST(ExecutableDirectory, IsWhereTheTestRuns) {
  const std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_NE(directory.back(), '/');
  EXPECT_NE(directory.find("qs71prog"), std::string::npos) << directory;
}

}  // namespace
}  // namespace qs71prog
