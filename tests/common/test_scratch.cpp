#include "test_scratch.h"

#include <gtest/gtest.h>
#include <unistd.h>

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
