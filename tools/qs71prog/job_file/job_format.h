#pragma once
// The job file, format 1: a production job that no operator can change, in one file a person
// can read with `head` and `tail`:
//
//   QS71JOB 1                      the magic and the format's version
//   name: ...                      the header: one "key: value" line per setting
//   ...
//   image: 262144                  the last header line: the image's length in bytes
//   <the image's bytes>
//   (a line end)
//   sha256: <64 hex digits>        the SHA-256 of every byte before this line
//   signature: none                or: signature: ed25519 <fingerprint> <128 hex digits>
//   end
//
// The signature is Ed25519 over the same bytes the hash covers (not over the hash), so that
// its verdict stands on libsodium alone. The trailer is not covered by either.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job_file/signing_key.h"

namespace qs71prog {

constexpr int kJobFormat = 1;

// What a job fixes, and where it came from.
struct JobSettings {
  std::string name;
  std::string workOrder;
  uint32_t chipSize = 0;  // the image's size: the part it is for
  bool blankCheck = true;
  bool verify = true;
  std::array<double, 4> volts{};  // indexed by Voltage
  int programmers = 0;            // 0: any number
  int lot = 0;                    // parts over all the job's runs, 0: no limit
  std::string madeBy;             // user@host
  std::string madeAt;             // UTC, 2026-12-08T21:40:00Z
  std::string version;            // the qs71prog that made it
  std::string imageSha256;
};

enum class FieldKind { kText, kFlag, kCount, kVolts, kHex };

// The header's lines, in the order they are written; --show-job prints them by this table.
struct JobField {
  const char* key;
  FieldKind kind;
  std::string (*write)(const JobSettings&);
  bool (*read)(const std::string& value, JobSettings& settings);
};
const std::vector<JobField>& JobFields();

// Empty when text can be a header value (one line, printable), else what is wrong with it.
std::string HeaderValueProblem(const std::string& text);

// The bytes the hash and the signature cover: header, image and the line end after it.
std::vector<uint8_t> CoveredBytes(const JobSettings& settings, const std::vector<uint8_t>& image);

struct JobSignature {
  bool present = false;
  std::string fingerprint;
  Signature bytes{};
};

std::string JobTrailer(const std::string& sha256, const JobSignature& signature);

// A job file cut into its parts, before anything in it is believed.
struct JobFileParts {
  size_t headerEnd = 0;  // where the image begins
  size_t imageSize = 0;
  size_t covered = 0;    // the bytes before the trailer
  std::string sha256;    // as the trailer gives it
  JobSignature signature;
};

// name is the file's name for the refusals: not a job file, another format, cut short,
// damaged.
bool SplitJobFile(const std::string& name, const std::vector<uint8_t>& bytes,
                  JobFileParts& parts, std::string& problem);

// The header's settings; every key once, no other key.
bool ReadJobHeader(const std::string& header, JobSettings& settings, std::string& problem);

}  // namespace qs71prog
