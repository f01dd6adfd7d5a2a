#include "file_system.h"

FilePlace PlaceOf(const std::string& path) {
  FilePlace p{IdentifyFile(path.c_str()), {}, {}};
  const std::string target = LinkTarget(path);
  p.folder = IdentifyFile(FolderOf(target).c_str());
  p.base = target.substr(target.find_last_of("/\\") + 1);
  return p;
}

bool SamePlace(const FilePlace& a, const FilePlace& b) {
  if (a.file.exists || b.file.exists) return SameFile(a.file, b.file);
  return SameFile(a.folder, b.folder) && a.base == b.base;
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

bool WriteOutputText(const std::string& path, const std::string& text, std::string* reason) {
  const Destination d = DestinationOf(path);
  std::string name;
  FILE* file = d.inPlace ? std::fopen(path.c_str(), "wb") : CreateScratchBeside(d.target, &name, reason);
  if (file == nullptr) {
    if (d.inPlace) *reason = LastSystemError();
    return false;
  }
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
    *reason = LastSystemError();
    if (d.inPlace) std::fclose(file);
    else DiscardScratch(file, name);
    return false;
  }
  if (!d.inPlace) return CommitScratch(file, name, d.target, reason);
  if (std::fclose(file) == 0) return true;
  *reason = LastSystemError();
  return false;
}
