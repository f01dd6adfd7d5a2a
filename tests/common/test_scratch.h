#pragma once
// Folders for the files a test makes. ctest runs every test of a GoogleTest binary as a
// process of its own, several at once: each test keeps its files in a folder named after it,
// so that no two of them meet.

#include <filesystem>
#include <string>

// The running test's folder below root, made when missing; what an earlier run left stays.
std::filesystem::path ScratchFolder(const std::filesystem::path& root, const std::string& name);

// The same folder, emptied first, for a test that must not see an earlier run's files.
std::filesystem::path CleanScratchFolder(const std::filesystem::path& root,
                                         const std::string& name);

// folder, made when missing and emptied when not.
std::filesystem::path EmptyFolder(const std::filesystem::path& folder);
