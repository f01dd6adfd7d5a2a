#pragma once
// Waiting for a compile's inputs to change, one file per platform (inotify, or
// ReadDirectoryChangesW). The folders are watched rather than the files: an editor that saves
// by writing a new file and renaming it onto the old name leaves a watch on the old file
// watching nothing. Events for other names in those folders (the image, the map, the page the
// compile itself writes) are ignored.

#include <memory>
#include <string>
#include <vector>

class FileWatch {
 public:
  FileWatch();
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  // The files to watch from now on, in place of the ones before. A folder stays watched once it
  // was, so that a change made during a compile is still reported after it; a folder that does
  // not exist is passed over. False with the system's reason when a folder cannot be watched,
  // or when none of them exists.
  bool Watch(const std::vector<std::string>& files, std::string* reason);

  // Returns once one of the files was written, made, renamed or removed and then nothing more
  // happened to them for settleMs (an editor or a sound tool writes a file in several steps).
  // False with the system's reason when the watch failed.
  bool WaitForChange(int settleMs, std::string* reason);

 private:
  struct Folders;
  std::unique_ptr<Folders> folders_;
};
