// Cutting a job file into header, image and trailer. Nothing here is believed yet: the hash
// and the signature are checked on what this finds (job_loader.cpp), so every refusal here
// says what the file is (no job file, another format, cut short, damaged), not what it means.
#include <string_view>

#include "chip_identity.h"
#include "hex.h"
#include "job_file/job_format.h"

namespace qs71prog {

namespace {

constexpr std::string_view kMagic = "QS71JOB ";
// Fifteen settings of at most 200 characters each fit well inside this; a file without an
// image line by then was not made by qs71prog.
constexpr size_t kLongestHeader = 16384;

std::string_view LineAt(const std::vector<uint8_t>& bytes, size_t at, size_t& next) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const size_t end = all.find('\n', at);
  next = end == std::string_view::npos ? std::string_view::npos : end + 1;
  return end == std::string_view::npos ? std::string_view() : all.substr(at, end - at);
}

// The magic line: "QS71JOB 1". Another number is a job of another format.
bool CheckMagic(const std::string& name, const std::vector<uint8_t>& bytes, size_t& next,
                std::string& problem) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!all.starts_with(kMagic)) {
    problem = name + " is not a job file: it does not begin with QS71JOB (an image goes with " +
              "--write, a job file comes from --make-job)";
    return false;
  }
  const std::string_view line = LineAt(bytes, 0, next);
  if (next == std::string_view::npos) {
    problem = name + " is cut short: it ends in its first line";
    return false;
  }
  const std::string_view version = line.substr(kMagic.size());
  if (version.empty() || version.size() > 6 ||
             version.find_first_not_of("0123456789") != std::string_view::npos) {
    problem = name + " is not a job file: its first line names no format";
  } else if (version != std::to_string(kJobFormat)) {
    problem = name + " is a job file of format " + std::string(version) + "; this qs71prog reads " +
              "format " + std::to_string(kJobFormat) + " only";
  }
  return problem.empty();
}

// The header's lines up to "image: N"; N must be a part's size.
bool FindImage(const std::string& name, const std::vector<uint8_t>& bytes, size_t at,
               JobFileParts& parts, std::string& problem) {
  for (size_t next = at; at < bytes.size() && at < kLongestHeader; at = next) {
    const std::string_view line = LineAt(bytes, at, next);
    if (next == std::string_view::npos) break;
    if (!line.starts_with("image: ")) continue;
    const std::string size(line.substr(7));
    const bool digits = !size.empty() && size.size() < 9 &&
                        size.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !qs71::IsOtpSize(std::stoll(size))) {
      problem = name + " is damaged: its image line gives no part's size";
      return false;
    }
    parts.headerEnd = next;
    parts.imageSize = std::stoul(size);
    return true;
  }
  problem = at >= kLongestHeader ? name + " is damaged: its header has no image line"
                                 : name + " is cut short: it ends in its header";
  return false;
}

bool TakeSignature(std::string_view line, JobSignature& signature) {
  if (line == "signature: none") return true;
  constexpr std::string_view kSigned = "signature: ed25519 ";
  if (!line.starts_with(kSigned) || line.size() != kSigned.size() + 32 + 1 + 128 ||
      line[kSigned.size() + 32] != ' ') {
    return false;
  }
  const std::string fingerprint(line.substr(kSigned.size(), 32));
  uint8_t check[16];
  if (!ParseHexBytes(fingerprint, check, sizeof check) ||
      !ParseHexBytes(std::string(line.substr(kSigned.size() + 33)), signature.bytes.data(),
                     signature.bytes.size())) {
    return false;
  }
  signature.present = true;
  signature.fingerprint = fingerprint;
  return true;
}

// sha256, signature, end: three lines and nothing after them.
bool ReadTrailer(const std::string& name, const std::vector<uint8_t>& bytes, JobFileParts& parts,
                 std::string& problem) {
  size_t at = parts.covered;
  std::string_view lines[3];
  for (std::string_view& line : lines) {
    size_t next = 0;
    line = LineAt(bytes, at, next);
    if (next == std::string_view::npos) {
      problem = name + " is cut short: its trailer ends before its end line";
      return false;
    }
    at = next;
  }
  uint8_t digest[32];
  const std::string sha(lines[0].starts_with("sha256: ") ? lines[0].substr(8) : "");
  if (!ParseHexBytes(sha, digest, sizeof digest) || !TakeSignature(lines[1], parts.signature) ||
      lines[2] != "end") {
    problem = name + " is damaged: its trailer is not sha256, signature and end";
  } else if (at != bytes.size()) {
    problem = name + " is damaged: " + std::to_string(bytes.size() - at) +
              " bytes follow its end line";
  }
  parts.sha256 = sha;
  return problem.empty();
}

}  // namespace

std::string JobTrailer(const std::string& sha256, const JobSignature& signature) {
  const std::string signed_ =
      signature.present ? "ed25519 " + signature.fingerprint + " " +
                              HexBytes(signature.bytes.data(), signature.bytes.size())
                        : "none";
  return "sha256: " + sha256 + "\nsignature: " + signed_ + "\nend\n";
}

bool SplitJobFile(const std::string& name, const std::vector<uint8_t>& bytes,
                  JobFileParts& parts, std::string& problem) {
  size_t at = 0;
  if (!CheckMagic(name, bytes, at, problem) || !FindImage(name, bytes, at, parts, problem)) {
    return false;
  }
  const size_t available = bytes.size() - parts.headerEnd;
  if (available <= parts.imageSize) {
    problem = name + " is cut short: its image has " +
              std::to_string(std::min(available, parts.imageSize)) + " of " +
              std::to_string(parts.imageSize) + " bytes, and no trailer";
    return false;
  }
  parts.covered = parts.headerEnd + parts.imageSize + 1;
  if (bytes[parts.covered - 1] != '\n') {
    problem = name + " is damaged: its image is not " + std::to_string(parts.imageSize) +
              " bytes followed by a line end";
    return false;
  }
  return ReadTrailer(name, bytes, parts, problem);
}

}  // namespace qs71prog
