#include "file_system.h"

#include "ascii_case.h"

#include <cstdio>

std::string HintCommand(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + HintPath(word);
  return line;
}

FilePlace PlaceOf(const std::string& path) {
  FilePlace p{IdentifyFile(path.c_str()), {}, {}};
  const std::string target = LinkTarget(path);
  p.folder = IdentifyFile(FolderOf(target).c_str());
  p.base = target.substr(target.find_last_of("/\\") + 1);
  return p;
}

bool SamePlace(const FilePlace& a, const FilePlace& b) {
  if (a.file.exists || b.file.exists) return SameFile(a.file, b.file);
  return SameFile(a.folder, b.folder) && SameEntryName(a.base, b.base, FileNamesFoldCase());
}

bool SameEntryName(const std::string& a, const std::string& b, bool foldCase) {
  return foldCase ? EqualsNoCase(a, b) : a == b;
}

Destination DestinationOf(const std::string& output) {
  Destination d;
  const FileIdentity id = IdentifyFile(output.c_str());
  d.existed = id.exists;
  d.target = LinkTarget(output);
  // A link of /proc leads to a pipe or to a file that may have lost its name: in place.
  d.inPlace = id.exists && (!id.regular || !SameFile(IdentifyFile(d.target.c_str()), id));
  return d;
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes->append(chunk, n);
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

std::string UnreadableReason(FileKind kind) {
  if (kind == FileKind::Missing) return "there is no such file";
  if (kind == FileKind::Regular) return LastSystemError();
  return std::string("it is ") + FileKindName(kind);
}
