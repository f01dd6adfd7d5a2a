#pragma once
// What every fuzz target does once before its first input: work in a scratch folder of its
// own, and send standard output (listings and messages, not what is tested) to /dev/null.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline void EnterScratchFolder(const char* name) {
  std::string dir = std::string("/tmp/qs71-") + name + "-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0) std::abort();
}

// A file the target reads back; a scratch folder that cannot take it ends the run.
inline void WriteFileOrAbort(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) std::abort();
}

inline void SilenceStandardOutput() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}
