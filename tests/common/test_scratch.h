#pragma once
// ctest runs every test of a GoogleTest binary as a process of its own, several at once: each
// test keeps its files in a folder named after it, so that no two of them meet.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

inline std::filesystem::path ScratchFolder(const std::filesystem::path& root,
                                           const std::string& name) {
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
