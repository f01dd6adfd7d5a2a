#include "test_scratch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

std::filesystem::path ScratchFolder(const std::filesystem::path& root, const std::string& name) {
  std::string leaf = name;
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    leaf += std::string("-") + info->test_suite_name() + "-" + info->name();
  } else {
    leaf += "-" + std::to_string(::getpid());  // a suite's set-up: one folder per process
  }
  for (char& c : leaf) {
    if (c == '/') c = '_';
  }
  const std::filesystem::path dir = root / leaf;
  std::filesystem::create_directories(dir);
  // The programs the test starts keep their state (qs71prog's trace) in its folder.
  setenv("QS71_TEST_STATE_HOME", (dir / "state").c_str(), 1);
  return dir;
}

std::filesystem::path CleanScratchFolder(const std::filesystem::path& root,
                                         const std::string& name) {
  return EmptyFolder(ScratchFolder(root, name));
}

std::filesystem::path EmptyFolder(const std::filesystem::path& folder) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}
