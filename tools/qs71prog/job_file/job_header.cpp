// The header of a job file: one row per setting, each written and read by the same row, so
// that what --make-job writes is what a station reads back.
#include <charconv>
#include <cstdio>

#include "cli/voltage_settings.h"
#include "hex.h"
#include "job_file/job_format.h"

namespace qs71prog {

namespace {

// A name or a work order is a label for people and the log, not a document.
constexpr size_t kLongestText = 200;
constexpr int kMostCount = 100000000;

template <std::string JobSettings::*M>
std::string WriteText(const JobSettings& s) {
  return s.*M;
}

template <std::string JobSettings::*M>
bool ReadText(const std::string& value, JobSettings& s) {
  if (!HeaderValueProblem(value).empty()) return false;
  s.*M = value;
  return true;
}

template <bool JobSettings::*M>
std::string WriteFlag(const JobSettings& s) {
  return s.*M ? "yes" : "no";
}

template <bool JobSettings::*M>
bool ReadFlag(const std::string& value, JobSettings& s) {
  s.*M = value == "yes";
  return value == "yes" || value == "no";
}

template <typename T, T JobSettings::*M>
std::string WriteCount(const JobSettings& s) {
  return std::to_string(s.*M);
}

// Plain decimal digits, no sign, no leading zero: the one spelling WriteCount gives.
template <typename T, T JobSettings::*M>
bool ReadCount(const std::string& value, JobSettings& s) {
  int number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc() || end != value.data() + value.size() || value.empty() ||
      value[0] == '-' || value[0] == '+' || (value.size() > 1 && value[0] == '0') ||
      number > kMostCount) {
    return false;
  }
  s.*M = static_cast<T>(number);
  return true;
}

// The shortest text that reads back as the same double.
template <Voltage V>
std::string WriteVolts(const JobSettings& s) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, s.volts[static_cast<size_t>(V)]);
  return std::string(text, result.ptr);
}

// The job holds what --make-job accepted, so the same safe range applies on reading: a
// hand-made job cannot bring 65 V to the socket.
template <Voltage V>
bool ReadVolts(const std::string& value, JobSettings& s) {
  double volts = 0.0;
  if (value.empty() || value.back() == 'V' || value.back() == 'v' || !ParseVolts(value, volts) ||
      !CheckVolts(SettingOf(V), SettingOf(V).option, volts).empty()) {
    return false;
  }
  s.volts[static_cast<size_t>(V)] = volts;
  return true;
}

bool ReadSha256(const std::string& value, JobSettings& s) {
  uint8_t bytes[32];
  if (!ParseHexBytes(value, bytes, sizeof bytes) ||
      value.find_first_of("ABCDEF") != std::string::npos) {
    return false;
  }
  s.imageSha256 = value;
  return true;
}

const std::vector<JobField> kFields = {
    {"name", FieldKind::kText, WriteText<&JobSettings::name>, ReadText<&JobSettings::name>},
    {"work-order", FieldKind::kText, WriteText<&JobSettings::workOrder>,
     ReadText<&JobSettings::workOrder>},
    {"chip-size", FieldKind::kCount, WriteCount<uint32_t, &JobSettings::chipSize>,
     ReadCount<uint32_t, &JobSettings::chipSize>},
    {"blank-check", FieldKind::kFlag, WriteFlag<&JobSettings::blankCheck>,
     ReadFlag<&JobSettings::blankCheck>},
    {"verify", FieldKind::kFlag, WriteFlag<&JobSettings::verify>, ReadFlag<&JobSettings::verify>},
    {"blank-check-vdd", FieldKind::kVolts, WriteVolts<Voltage::kBlankCheckVdd>,
     ReadVolts<Voltage::kBlankCheckVdd>},
    {"write-vdd", FieldKind::kVolts, WriteVolts<Voltage::kWriteVdd>,
     ReadVolts<Voltage::kWriteVdd>},
    {"write-vpp", FieldKind::kVolts, WriteVolts<Voltage::kWriteVpp>,
     ReadVolts<Voltage::kWriteVpp>},
    {"verify-vdd", FieldKind::kVolts, WriteVolts<Voltage::kVerifyVdd>,
     ReadVolts<Voltage::kVerifyVdd>},
    {"programmers", FieldKind::kCount, WriteCount<int, &JobSettings::programmers>,
     ReadCount<int, &JobSettings::programmers>},
    {"lot", FieldKind::kCount, WriteCount<int, &JobSettings::lot>,
     ReadCount<int, &JobSettings::lot>},
    {"made-by", FieldKind::kText, WriteText<&JobSettings::madeBy>, ReadText<&JobSettings::madeBy>},
    {"made-at", FieldKind::kText, WriteText<&JobSettings::madeAt>, ReadText<&JobSettings::madeAt>},
    {"qs71prog", FieldKind::kText, WriteText<&JobSettings::version>,
     ReadText<&JobSettings::version>},
    {"image-sha256", FieldKind::kHex, [](const JobSettings& s) { return s.imageSha256; },
     ReadSha256},
};

const JobField* FieldNamed(const std::string& key) {
  for (const JobField& field : kFields) {
    if (key == field.key) return &field;
  }
  return nullptr;
}

// One "key: value" line of the header into settings; seen counts each key.
bool ReadHeaderLine(const std::string& line, JobSettings& settings, std::vector<int>& seen,
                    std::string& problem) {
  const size_t colon = line.find(": ");
  const JobField* field = colon == std::string::npos ? nullptr : FieldNamed(line.substr(0, colon));
  if (field == nullptr) {
    problem = "its header has a line that is no setting of format 1";
  } else if (++seen[static_cast<size_t>(field - kFields.data())] > 1) {
    problem = std::string("its header gives ") + field->key + " twice";
  } else if (!field->read(line.substr(colon + 2), settings)) {
    problem = std::string("its header's ") + field->key + " is not a value it can hold";
  }
  return problem.empty();
}

}  // namespace

const std::vector<JobField>& JobFields() { return kFields; }

std::string HeaderValueProblem(const std::string& text) {
  if (text.size() > kLongestText) {
    return "is longer than " + std::to_string(kLongestText) + " characters";
  }
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return "holds a control character (a line end, a tab)";
  }
  return "";
}

std::vector<uint8_t> CoveredBytes(const JobSettings& settings, const std::vector<uint8_t>& image) {
  std::string header = "QS71JOB " + std::to_string(kJobFormat) + "\n";
  for (const JobField& field : kFields) header += field.key + (": " + field.write(settings)) + "\n";
  header += "image: " + std::to_string(image.size()) + "\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), image.begin(), image.end());
  bytes.push_back('\n');
  return bytes;
}

bool ReadJobHeader(const std::string& header, JobSettings& settings, std::string& problem) {
  std::vector<int> seen(kFields.size(), 0);
  size_t start = header.find('\n') + 1;  // after the magic line, which SplitJobFile checked
  for (size_t end; (end = header.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = header.substr(start, end - start);
    if (line.starts_with("image: ")) break;
    if (!ReadHeaderLine(line, settings, seen, problem)) return false;
  }
  for (size_t i = 0; i < kFields.size(); ++i) {
    if (seen[i] == 1) continue;
    problem = std::string("its header has no ") + kFields[i].key + " line";
    return false;
  }
  return true;
}

}  // namespace qs71prog
