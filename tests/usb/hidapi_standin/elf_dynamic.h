#pragma once

#include <set>
#include <string>
#include <vector>

namespace qs71::test {

// What the dynamic loader reads of a shared object: the libraries it needs, the folders it
// would search before LD_LIBRARY_PATH (RPATH) or after it (RUNPATH), and the symbols it
// expects some other object to define.
struct ElfDynamic {
  std::vector<std::string> needed;
  std::vector<std::string> rpath;
  std::vector<std::string> runpath;
  std::set<std::string> undefined;
};

// False when the file cannot be read or is not an ELF shared object of this host's class.
bool ReadElfDynamic(const std::string& path, ElfDynamic& dynamic);

}  // namespace qs71::test
