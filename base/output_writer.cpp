#include "output_writer.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include "scratch_names.h"
#include "text_format.h"

OutputWriter::OutputWriter(OutputWriter&& other) noexcept { *this = std::move(other); }

OutputWriter& OutputWriter::operator=(OutputWriter&& other) noexcept {
  if (this == &other) return *this;
  Discard();
  stream_ = std::exchange(other.stream_, nullptr);
  scratch_ = std::move(other.scratch_);
  target_ = std::move(other.target_);
  inPlace_ = other.inPlace_;
  existed_ = other.existed_;
  other.scratch_.clear();
  return *this;
}

bool OutputWriter::Open(const std::string& path, AtLink links, std::string* reason) {
  Discard();
  if (links == AtLink::kFollow) {
    const Destination d = DestinationOf(path);
    inPlace_ = d.inPlace;
    existed_ = d.existed;
    target_ = d.target;
  } else {
    // Renamed onto the name itself, whatever it is: a link there goes, and what it led to stays.
    inPlace_ = false;
    existed_ = IdentifyFile(path.c_str()).exists || LinkTarget(path) != path;
    target_ = path;
  }
  if (inPlace_) {
    stream_ = std::fopen(path.c_str(), "wb");
    if (stream_ == nullptr) *reason = LastSystemError();
  } else {
    stream_ = CreateScratchBeside(target_, &scratch_, reason);
  }
  return stream_ != nullptr;
}

bool OutputWriter::Commit(std::string* reason) { return CommitAs(target_, reason); }

bool OutputWriter::CommitAs(const std::string& target, std::string* reason) {
  if (stream_ == nullptr) return *reason = "the output is not open", false;
  FILE* stream = std::exchange(stream_, nullptr);
  const std::string scratch = std::exchange(scratch_, std::string());
  // A write that failed once (a full disk, a file size limit) may leave nothing in the buffer
  // for the final flush to fail on: the stream's error flag is what remembers it.
  errno = 0;
  const bool failed = std::fflush(stream) != 0 || std::ferror(stream) != 0;
  if (failed) *reason = errno != 0 ? LastSystemError() : "a write failed";
  if (inPlace_) {
    const bool closed = std::fclose(stream) == 0;
    if (!failed && !closed) *reason = LastSystemError();
    return !failed && closed;
  }
  if (failed) return DiscardScratch(stream, scratch), false;
  return CommitScratch(stream, scratch, target, reason);
}

void OutputWriter::Discard() {
  if (stream_ == nullptr) return;
  FILE* stream = std::exchange(stream_, nullptr);
  if (inPlace_) std::fclose(stream);
  else DiscardScratch(stream, std::exchange(scratch_, std::string()));
}

bool WriteOutputBytes(const std::string& path, const void* data, size_t size, AtLink links,
                      std::string* reason) {
  OutputWriter out;
  if (!out.Open(path, links, reason)) return false;
  // An empty output writes nothing, and fwrite may not be handed a null buffer.
  if (size > 0 && std::fwrite(data, 1, size, out.Stream()) != size) {
    *reason = LastSystemError();
    return false;
  }
  return out.Commit(reason);
}

bool WriteOutputText(const std::string& path, const std::string& text, std::string* reason) {
  return WriteOutputBytes(path, text.data(), text.size(), AtLink::kFollow, reason);
}

bool WriteNewOutputText(const std::string& path, const std::string& text, std::string* reason) {
  // A hidden name of its own beside path, held so that an interrupted run removes it; a random
  // part keeps two runs apart.
  std::random_device random;
  const std::string scratch = FolderOf(path) + "/." + path.substr(path.find_last_of("/\\") + 1) +
                              Format(".qs71gen-%08x", static_cast<unsigned>(random()));
  HoldScratchName(scratch);
  const bool ok = WriteOutputBytes(scratch, text.data(), text.size(), AtLink::kReplace, reason) &&
                  RenameNoReplace(scratch, path, reason);
  if (!ok) std::remove(scratch.c_str());
  ForgetScratchName(scratch);
  return ok;
}

void RunFiles::AddInput(const std::string& name, const std::string& what) {
  entries_.push_back({what, PlaceOf(name), false});
}

void RunFiles::AddOutput(const std::string& name, const std::string& what) {
  entries_.push_back({what, PlaceOf(name), true});
}

std::string RunFiles::Clash(const std::string& path) const {
  const FilePlace place = PlaceOf(path);
  for (const Entry& entry : entries_) {
    const bool same = entry.output ? SamePlace(place, entry.place) : SameFile(place.file, entry.place.file);
    if (same) return entry.what;
  }
  return {};
}
