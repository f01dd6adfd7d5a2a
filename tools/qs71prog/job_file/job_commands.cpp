#include "job_file/job_commands.h"

#include <ctime>
#include <string>

#include "output_writer.h"
#include "job/preflight.h"
#include "job_file/job_loader.h"
#include "job_file/key_places.h"
#include "json_writer.h"
#include "platform/host_system.h"
#include "sha256.h"
#include "utf8_text.h"

#ifndef QS71PROG_VERSION
#define QS71PROG_VERSION "unknown"
#endif

namespace qs71prog {

namespace {

ExitCode Refuse(TextSink& console, ExitCode exit, const std::string& problem) {
  console.Err("qs71prog: " + problem + "\n");
  return exit;
}

// "alice@bench3", as far as the system tells; a header value is one printable line.
std::string MadeBy() {
  const std::string user = UserName();
  const std::string host = HostName();
  std::string text = (user.empty() ? "unknown" : user) + "@" + (host.empty() ? "unknown" : host);
  for (char& c : text) c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  return text.substr(0, 200);
}

std::string UtcNow() {
  const std::tm calendar = UtcCalendar(std::time(nullptr));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &calendar);
  return text;
}

JobSettings SettingsFrom(const Options& options, const std::string& imageSha256, size_t size) {
  JobSettings settings;
  settings.name = options.jobName;
  settings.workOrder = options.workOrder;
  settings.chipSize = static_cast<uint32_t>(size);
  settings.blankCheck = options.selection.blankCheck;
  settings.verify = options.selection.verify;
  settings.volts = options.volts;
  settings.programmers = options.expectProgrammers;
  settings.lot = options.lot;
  settings.madeBy = MadeBy();
  settings.madeAt = UtcNow();
  settings.version = QS71PROG_VERSION;
  settings.imageSha256 = imageSha256;
  return settings;
}

// A job's name and work order go into every station's trace, as UTF-8 text.
std::string TextProblem(const Options& options) {
  for (const auto& [option, text] : {std::pair{"--job-name", &options.jobName},
                                     std::pair{"--work-order", &options.workOrder}}) {
    const std::string line = HeaderValueProblem(*text);
    if (!line.empty()) return std::string(option) + " " + line;
    const std::string fault = PlainTextFault(*text);
    if (!fault.empty()) return std::string(option) + " \"" + PrintableText(*text) + "\" " + fault;
  }
  return "";
}

std::string ShownText(const std::string& path, const LoadedJob& job) {
  std::string text = "job: " + path + "\nformat: " + std::to_string(kJobFormat) + "\n";
  for (const JobField& field : JobFields()) {
    text += field.key + (": " + field.write(job.settings)) + "\n";
  }
  text += "image: " + std::to_string(job.image.size()) + " bytes\nsha256: " + job.sha256 + "\n";
  text += "signature: " + (job.signer.empty() ? "none" : "ed25519, key " + job.signer) + "\n";
  return text + "station: " + (job.accepted ? "accepts it: " : "refuses it: ") + job.trustWords +
         "\n";
}

// JSON's names are the header's keys with '_' for '-', each value of its own type.
void AddJsonField(JsonWriter& json, const JobField& field, const JobSettings& settings) {
  std::string key = field.key;
  for (char& c : key) c = c == '-' ? '_' : c;
  const std::string value = field.write(settings);
  switch (field.kind) {
    case FieldKind::kFlag: json.Bool(key, value == "yes"); break;
    case FieldKind::kCount: json.Int(key, std::stoll(value)); break;
    case FieldKind::kVolts: json.Number(key, std::stod(value)); break;
    case FieldKind::kText:
    case FieldKind::kHex: json.String(key, value); break;
  }
}

std::string ShownJson(const std::string& path, const LoadedJob& job) {
  JsonWriter json;
  json.BeginObject().String("job", path).Int("format", kJobFormat);
  for (const JobField& field : JobFields()) AddJsonField(json, field, job.settings);
  json.Int("image_size", static_cast<int64_t>(job.image.size())).String("sha256", job.sha256);
  json.Bool("signed", !job.signer.empty());
  if (job.signer.empty()) json.Null("signer");
  else json.String("signer", job.signer);
  json.Bool("accepted", job.accepted).String("station", job.trustWords).EndObject();
  return json.Text();
}

}  // namespace

ExitCode MakeKeyCommand(const Options& options, TextSink& console) {
  std::string fingerprint;
  std::string problem;
  if (!MakeKeyFiles(options.makeKey, "made by " + MadeBy() + " at " + UtcNow(), fingerprint,
                    problem)) {
    return Refuse(console, ExitCode::kFileError, problem);
  }
  console.Out("qs71prog: secret key " + options.makeKey + " (keep it where jobs are made), " +
              "public key " + options.makeKey + ".pub (for the stations), fingerprint " +
              fingerprint + "\n");
  return ExitCode::kOk;
}

ExitCode MakeJobCommand(const Options& options, TextSink& console) {
  std::string problem = TextProblem(options);
  if (!problem.empty()) return Refuse(console, ExitCode::kUsage, problem);
  const Preflight preflight = PreflightImage(options);
  if (preflight.exit != ExitCode::kOk) return Refuse(console, preflight.exit, preflight.problem);
  SecretKey key;
  const bool sign = !options.sign.empty();
  if (sign && !ReadSecretKey(options.sign, "--sign", key, problem)) {
    return Refuse(console, ExitCode::kNotAnImage, problem);
  }
  // The bytes the pre-flight judged are the bytes hashed and kept: the file may be replaced
  // by a compile meanwhile.
  const std::vector<uint8_t>& image = preflight.bytes;
  LoadedJob made;
  made.settings = SettingsFrom(options, Sha256Hex(image.data(), image.size()), image.size());
  const std::vector<uint8_t> bytes = BuildJobFile(made.settings, image, sign ? &key : nullptr);
  if (!WriteOutputText(options.makeJob, std::string(bytes.begin(), bytes.end()), &problem)) {
    return Refuse(console, ExitCode::kFileError,
                  "cannot write the job " + options.makeJob + ": " + problem);
  }
  console.Out("qs71prog: job " + options.makeJob + " made from " + options.image + " (" +
              std::to_string(image.size()) + " bytes, sha256 " + made.settings.imageSha256 +
              "), " + (sign ? "signed by key " + key.fingerprint : "not signed") + "\n");
  return ExitCode::kOk;
}

ExitCode ShowJobCommand(const Options& options, TextSink& console) {
  Trust trust;
  LoadedJob job;
  std::string problem;
  if (!LoadStationTrust(options, trust, problem) ||
      !ReadJob(options.showJob, trust, job, problem)) {
    return Refuse(console, ExitCode::kNotAnImage, problem);
  }
  console.Out(options.json ? ShownJson(options.showJob, job) : ShownText(options.showJob, job));
  if (!job.accepted) return Refuse(console, ExitCode::kNotAnImage, job.trustWords);
  return ExitCode::kOk;
}

}  // namespace qs71prog
