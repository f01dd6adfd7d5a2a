// What lets the stand-in take hidapi's place: the production library needs
// libhidapi-hidraw.so.0 by that name, imports exactly the hid_* calls the stand-in defines,
// and carries no RPATH, which the loader would search before LD_LIBRARY_PATH.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "elf_dynamic.h"
#include "standin_library.h"

namespace qs71::test {
namespace {

const std::set<std::string> kHidapiCalls = {
    "hid_close", "hid_enumerate", "hid_exit", "hid_free_enumeration",
    "hid_init",  "hid_open_path", "hid_read_timeout", "hid_write"};

std::set<std::string> HidapiImports(const ElfDynamic& dynamic) {
  std::set<std::string> calls;
  for (const std::string& name : dynamic.undefined) {
    if (name.rfind("hid_", 0) == 0) calls.insert(name);
  }
  return calls;
}

TEST(ProductionLibrary, ImportsTheEightHidapiCallsAndHasNoRpath) {
  ElfDynamic dynamic;
  ASSERT_TRUE(ReadElfDynamic(QS71_PRODUCTION_LIBRARY, dynamic)) << QS71_PRODUCTION_LIBRARY;
  EXPECT_EQ(HidapiImports(dynamic), kHidapiCalls);
  EXPECT_NE(std::find(dynamic.needed.begin(), dynamic.needed.end(), "libhidapi-hidraw.so.0"),
            dynamic.needed.end());
  EXPECT_TRUE(dynamic.rpath.empty()) << dynamic.rpath.front();
  EXPECT_TRUE(dynamic.runpath.empty()) << dynamic.runpath.front();
}

TEST(ProductionLibrary, IsGivenTheStandinThroughLdLibraryPath) {
  const StandinLibrary& standin = LoadedStandin();
  EXPECT_TRUE(standin.Loaded()) << standin.error;
}

}  // namespace
}  // namespace qs71::test
