#pragma once
// The one way every program writes an output file: qs71gen's image, map, page and kept copies,
// qs71dump's page and extracted sounds, qs71prog's reports, exports, jobs and keys.
//
// A plain file is built in a scratch file beside its name and renamed onto the name only when
// every byte was written and synced, so that a failed write (a full disk, a file size limit), a
// failed run or a signal leaves whatever the name held before, never a truncated or empty file.
// The scratch file has no name where the system allows it, and otherwise a hidden one that a
// signal removes (scratch_names.h). A device, a pipe or a socket is written in place.
//
// Which names of a run are one file is told by FilePlace (file_system.h): by identity for a
// file that exists, by folder and name for one still to be made, with letter case ignored
// where the file system ignores it. RunFiles lists a run's inputs and outputs for that check.

#include <cstdio>
#include <string>
#include <vector>

#include "file_system.h"

// What happens to a symbolic link found at an output's name.
enum class AtLink {
  // A name the user gave: the link stays, and the plain file it leads to is rebuilt beside
  // itself with its permission bits; a link to a device writes into the device.
  kFollow,
  // A name the program makes inside a folder (a kept copy, an extracted sound): the link is
  // replaced by the file, never written through to a file outside the folder.
  kReplace,
};

class OutputWriter {
 public:
  OutputWriter() = default;
  ~OutputWriter() { Discard(); }
  OutputWriter(OutputWriter&& other) noexcept;
  OutputWriter& operator=(OutputWriter&& other) noexcept;
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Opens the stream that takes the output's bytes. False with the system's reason when no
  // file can be made beside the name (a folder that takes no new file) or the device refuses.
  bool Open(const std::string& path, AtLink links, std::string* reason);

  FILE* Stream() const { return stream_; }
  bool IsOpen() const { return stream_ != nullptr; }
  bool InPlace() const { return inPlace_; }
  // Whether the name held a file (or a link) when it was opened.
  bool Existed() const { return existed_; }

  // Gives the output its name: a scratch file is synced and renamed onto the name (or onto
  // another, for a failed compile's image), a device is closed. False with the system's reason
  // when any write or step failed; the name then keeps what it held. The stream is closed
  // either way.
  bool Commit(std::string* reason);
  bool CommitAs(const std::string& target, std::string* reason);

  // Closes the stream and removes the scratch file; the name keeps what it held.
  void Discard();

 private:
  FILE* stream_ = nullptr;
  std::string scratch_;  // the scratch file's hidden name; empty when it has none
  std::string target_;   // the name the scratch file is renamed onto
  bool inPlace_ = false;
  bool existed_ = false;
};

// Writes bytes as the output path in one step. False with the system's reason in *reason.
bool WriteOutputBytes(const std::string& path, const void* data, size_t size, AtLink links,
                      std::string* reason);

// Writes text as the output path, following a link at the name.
bool WriteOutputText(const std::string& path, const std::string& text, std::string* reason);

// Writes text as a new file path, never over a file that is there (also one made while the
// text is written): false with the system's reason, and nothing at path changed.
bool WriteNewOutputText(const std::string& path, const std::string& text, std::string* reason);

// The files of a run, each with the words that name it in a refusal ("the image", "the map",
// "the wave file of sound <voice>"), so that no output is written over an input or over
// another output of the same run.
class RunFiles {
 public:
  void AddInput(const std::string& name, const std::string& what);
  void AddOutput(const std::string& name, const std::string& what);
  // What of the run path would be written over: the words of the first file that is the same
  // file (an input only when it exists); empty when none.
  std::string Clash(const std::string& path) const;

 private:
  struct Entry {
    std::string what;
    FilePlace place;
    bool output;
  };
  std::vector<Entry> entries_;
};
