#include "job_file/job_loader.h"

#include <cstdio>

#include "chip_identity.h"
#include "file_system.h"
#include "job/preflight.h"
#include "sha256.h"

namespace qs71prog {

namespace {

// The largest part's image with its header and trailer; a longer file is no job, and is not
// read to find that out.
constexpr size_t kLongestJob = (size_t{2} << 20) + 65536;

bool ReadJobBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem) {
  FileKind kind = FileKind::Missing;
  FILE* file = OpenRegularFile(path.c_str(), &kind);
  if (file == nullptr) {
    problem = kind == FileKind::Missing ? "cannot open the job " + path + ": " + LastSystemError()
                                        : "the job " + path + " is " + FileKindName(kind);
    return false;
  }
  bytes.resize(kLongestJob + 1);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) problem = "cannot read the job " + path + ": " + LastSystemError();
  if (!failed && bytes.size() > kLongestJob) {
    problem = path + " is not a job file: it is longer than any job";
  }
  return problem.empty();
}

// The station's verdict on who signed the job. Only a key the station trusts can check a
// signature: with none (and no policy, which would have refused to run with none), a signed
// job is taken as an unsigned one is, and says so. A policy's jobs = "any" takes a job that no
// trusted key signed as an unsigned one too; a trusted key's signature must hold all the same.
void JudgeSigner(const std::string& path, const std::vector<uint8_t>& bytes,
                 const JobFileParts& parts, const Trust& trust, LoadedJob& job) {
  const JobSignature& signature = parts.signature;
  const PublicKey* key = signature.present ? trust.Find(signature.fingerprint) : nullptr;
  job.signer = signature.fingerprint;
  if (!trust.Any()) {
    job.accepted = true;
    job.trustWords = signature.present ? "signed by key " + signature.fingerprint +
                                             ", not checked: this station trusts no key"
                                       : "not signed; this station trusts no key";
  } else if (key != nullptr) {
    job.accepted = SignatureHolds(key->bytes, bytes.data(), parts.covered, signature.bytes);
    job.trustWords = job.accepted ? "signed by key " + signature.fingerprint +
                                        ", which this station trusts (" + key->path + ")"
                                  : path + "'s signature does not hold for key " +
                                        signature.fingerprint + " (" + key->path +
                                        "): the job was changed after it was signed";
  } else if (trust.rule == TrustRule::kUnsignedToo) {
    job.accepted = true;
    job.trustWords = (signature.present ? "signed by key " + signature.fingerprint +
                                              ", which this station does not trust: run as an "
                                              "unsigned job, "
                                        : std::string("not signed, ")) +
                     "which the station policy " + trust.policy + " runs (jobs = \"any\")";
  } else {
    job.accepted = false;
    job.trustWords = signature.present ? path + " is signed by key " + signature.fingerprint +
                                             ", which this station does not trust"
                                       : path + " is not signed, and this station runs only " +
                                             "jobs signed by a key it trusts";
  }
}

// What the hash cannot vouch for: a job made by hand, or by a qs71prog that checked less.
bool CheckContent(const std::string& path, LoadedJob& job, std::string& problem) {
  const Preflight verdict = JudgeImage(path, job.image, false);
  if (Sha256Hex(job.image.data(), job.image.size()) != job.settings.imageSha256) {
    problem = path + " is damaged: its image's SHA-256 is not the one its header gives";
  } else if (job.settings.chipSize != job.image.size()) {
    problem = path + " is damaged: its chip size is not its image's";
  } else if (verdict.exit != ExitCode::kOk) {
    problem = "the image in the job " + verdict.problem;
  }
  return problem.empty();
}

}  // namespace

std::vector<uint8_t> BuildJobFile(const JobSettings& settings, const std::vector<uint8_t>& image,
                                  const SecretKey* key) {
  std::vector<uint8_t> bytes = CoveredBytes(settings, image);
  JobSignature signature;
  if (key != nullptr) {
    signature.present = true;
    signature.fingerprint = key->fingerprint;
    signature.bytes = SignBytes(*key, bytes.data(), bytes.size());
  }
  const std::string trailer = JobTrailer(Sha256Hex(bytes.data(), bytes.size()), signature);
  bytes.insert(bytes.end(), trailer.begin(), trailer.end());
  return bytes;
}

bool ReadJob(const std::string& path, const Trust& trust, LoadedJob& job, std::string& problem) {
  job = LoadedJob();
  std::vector<uint8_t> bytes;
  JobFileParts parts;
  if (!ReadJobBytes(path, bytes, problem) || !SplitJobFile(path, bytes, parts, problem) ||
      !CryptoReady(problem)) {
    return false;
  }
  job.sha256 = Sha256Hex(bytes.data(), parts.covered);
  if (job.sha256 != parts.sha256) {
    problem = path + " was changed after it was made: its content's SHA-256 is " + job.sha256 +
              ", its trailer says " + parts.sha256;
    return false;
  }
  JudgeSigner(path, bytes, parts, trust, job);
  const std::string header(bytes.begin(), bytes.begin() + static_cast<long>(parts.headerEnd));
  if (!ReadJobHeader(header, job.settings, problem)) {
    problem = path + " is damaged: " + problem;
    return false;
  }
  job.image.assign(bytes.begin() + static_cast<long>(parts.headerEnd),
                   bytes.begin() + static_cast<long>(parts.headerEnd + parts.imageSize));
  return CheckContent(path, job, problem);
}

bool LoadJob(const std::string& path, const Trust& trust, LoadedJob& job, std::string& problem) {
  if (!ReadJob(path, trust, job, problem)) return false;
  if (!job.accepted) problem = job.trustWords;
  return job.accepted;
}

}  // namespace qs71prog
