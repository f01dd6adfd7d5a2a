#include "policy/policy_file.h"

#include <toml++/toml.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>

#include "file_system.h"
#include "toml_guard.h"
#include "trace/connection_password.h"
#include "utf8_text.h"

namespace qs71prog {

namespace {

// A policy is a few lines; anything far longer is not one, and is not read to find that out.
constexpr size_t kLongestPolicy = 65536;
constexpr size_t kLongestName = 200;

enum class Kind { kName, kJobs, kKeys, kTrace, kPath, kMinutes, kDryRuns };

struct PolicyKey {
  const char* name;
  Kind kind;
  bool required;
  std::string StationPolicy::*text;  // where a text value goes
  const char* expected;
};

const PolicyKey kKeys[] = {
    {"station", Kind::kName, false, &StationPolicy::station, "the station's name in quotes"},
    {"jobs", Kind::kJobs, true, nullptr,
     "\"signed\" (production runs only jobs signed by a trusted key) or \"any\""},
    {"trusted-keys", Kind::kKeys, true, nullptr,
     "a folder of *.pub files, or a list of key files, as absolute paths in quotes"},
    {"trace", Kind::kTrace, false, &StationPolicy::trace,
     "a postgresql:// connection string in quotes, or an SQLite file's absolute path"},
    {"spool", Kind::kPath, false, &StationPolicy::spool,
     "the absolute path of the station's own SQLite file, in quotes"},
    {"reserve-minutes", Kind::kMinutes, false, nullptr,
     "a whole number of minutes from 1 to 10080"},
    {"root-certificate", Kind::kPath, false, &StationPolicy::rootCertificate,
     "the absolute path of the line server's CA certificate (PEM), in quotes"},
    {"dry-runs", Kind::kDryRuns, false, nullptr,
     "\"refused\" (production runs drive real programmers only) or \"recorded\" (a line of "
     "emulated programmers, whose parts count in the trace and its lots)"},
};

std::string KeyNames() {
  std::string names;
  for (const PolicyKey& key : kKeys) names += (names.empty() ? "" : ", ") + std::string(key.name);
  return names;
}

// Takes one value into the policy. Returns "" when it holds; kNeeds when it is of the wrong
// type or out of range (the message then says what the key needs); otherwise what is wrong,
// after the key's name.
constexpr const char* kNeeds = "needs";

class ValueReader {
 public:
  explicit ValueReader(StationPolicy& policy) : policy(policy) {}

  std::string Take(const PolicyKey& key, const toml::node& node) {
    switch (key.kind) {
      case Kind::kJobs:
        return Jobs(node);
      case Kind::kKeys:
        return Keys(node);
      case Kind::kMinutes:
        return Minutes(node);
      case Kind::kDryRuns:
        return DryRuns(node);
      default:
        break;
    }
    const std::optional<std::string> text = node.value_exact<std::string>();
    if (!text || text->empty()) return kNeeds;
    policy.*key.text = *text;
    if (key.kind == Kind::kName) return Name(*text);
    if (key.kind == Kind::kTrace && IsConnectionString(*text)) return Connection(*text);
    return Path(*text);
  }

 private:
  std::string Jobs(const toml::node& node) {
    const std::optional<std::string> text = node.value_exact<std::string>();
    if (!text || (*text != "signed" && *text != "any")) return kNeeds;
    policy.jobs = *text == "signed" ? JobsRule::kSigned : JobsRule::kAny;
    return "";
  }

  std::string DryRuns(const toml::node& node) {
    const std::optional<std::string> text = node.value_exact<std::string>();
    if (!text || (*text != "refused" && *text != "recorded")) return kNeeds;
    policy.dryRunsRecorded = *text == "recorded";
    return "";
  }

  std::string Keys(const toml::node& node) {
    if (const std::optional<std::string> folder = node.value_exact<std::string>()) {
      policy.keyFolder = *folder;
      return folder->empty() ? kNeeds : Path(*folder);
    }
    const toml::array* files = node.as_array();
    if (files == nullptr || files->empty()) return kNeeds;
    for (const toml::node& item : *files) {
      const std::optional<std::string> file = item.value_exact<std::string>();
      if (!file || file->empty()) return kNeeds;
      if (const std::string fault = Path(*file); !fault.empty()) return fault;
      policy.keyFiles.push_back(*file);
    }
    return "";
  }

  std::string Minutes(const toml::node& node) {
    const std::optional<int64_t> minutes = node.value_exact<int64_t>();
    if (!minutes || *minutes < kLeastReserveMinutes || *minutes > kMostReserveMinutes) {
      return kNeeds;
    }
    policy.reserveMinutes = static_cast<int>(*minutes);
    return "";
  }

  static std::string Name(const std::string& text) {
    if (text.size() > kLongestName) return "is longer than 200 bytes";
    const std::string fault = PlainTextFault(text);
    return fault.empty() ? "" : fault + ": a name is one line of UTF-8";
  }

  static std::string Path(const std::string& text) {
    if (const std::string fault = PlainTextFault(text); !fault.empty()) {
      return "\"" + text + "\" " + fault + ": a file name is one line of UTF-8";
    }
    if (!std::filesystem::path(text).is_absolute()) {
      return "\"" + text +
             "\" is not an absolute path: a policy names its files from the top, "
             "whatever folder qs71prog starts in";
    }
    return "";
  }

  // The policy is a file every user of the station may read: a password in it is everyone's.
  static std::string Connection(const std::string& text) {
    if (!ConnectionPasswords(text).empty()) {
      return "holds a password, which every user of this computer can read here; the password "
             "goes in libpq's password file (~/.pgpass of the station's user) or a service "
             "file, and the connection string names none";
    }
    const std::string fault = PlainTextFault(text);
    return fault.empty() ? "" : fault + ": a connection string is one line";
  }

  StationPolicy& policy;
};

const PolicyKey* FindKey(std::string_view name) {
  for (const PolicyKey& key : kKeys) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

std::string At(const std::string& path, const toml::source_region& where) {
  return path + ":" + std::to_string(where.begin.line) + ": ";
}

// The first mistake in the file, by its line: toml++ keeps a table's keys sorted by name.
bool ReadKeys(const std::string& path, const toml::table& root, StationPolicy& policy,
              std::string& problem) {
  ValueReader reader(policy);
  uint32_t first = 0;
  for (auto&& [key, node] : root) {
    const PolicyKey* rule = FindKey(key.str());
    std::string fault;
    if (rule == nullptr) {
      fault = "unknown key " + std::string(key.str()) + "; a station policy has " + KeyNames();
    } else if (const std::string wrong = reader.Take(*rule, node); wrong == kNeeds) {
      fault = std::string(rule->name) + " needs " + rule->expected;
    } else if (!wrong.empty()) {
      fault = std::string(rule->name) + " " + wrong;
    }
    const uint32_t line = key.source().begin.line;
    if (fault.empty() || (first != 0 && line >= first)) continue;
    first = line;
    problem = At(path, key.source()) + fault;
  }
  return first == 0;
}

bool RequiredKeys(const std::string& path, const toml::table& root, std::string& problem) {
  for (const PolicyKey& key : kKeys) {
    if (!key.required || root.contains(key.name)) continue;
    problem = path + ": " + key.name + " is missing: a station policy needs it, " + key.expected;
    return false;
  }
  return true;
}

}  // namespace

bool ParsePolicyText(const std::string& path, const std::string& whole, StationPolicy& policy,
                     std::string& problem) {
  policy = StationPolicy();
  const std::string_view text = WithoutByteOrderMark(whole);
  if (const TomlHazard hazard = FindTomlHazard(text); hazard.line != 0) {
    problem = path + ":" + std::to_string(hazard.line) + ": " + hazard.what +
              "; the policy must be TOML, whose names and values are ASCII but for texts in quotes";
    return false;
  }
  toml::parse_result parsed = toml::parse(text, std::string_view(path));
  if (!parsed) {
    problem = At(path, parsed.error().source()) + std::string(parsed.error().description()) +
              "; the policy must be TOML";
    return false;
  }
  if (!ReadKeys(path, parsed.table(), policy, problem) ||
      !RequiredKeys(path, parsed.table(), problem)) {
    policy = StationPolicy();
    return false;
  }
  policy.file = path;
  return true;
}

bool ReadPolicyFile(const std::string& path, StationPolicy& policy, std::string& problem) {
  FileKind kind = FileKind::Missing;
  FILE* file = OpenRegularFile(path.c_str(), &kind);
  if (file == nullptr) {
    problem = "the station policy " + path + " cannot be read: " +
              (kind == FileKind::Missing ? LastSystemError()
                                         : "it is " + std::string(FileKindName(kind)));
    return false;
  }
  std::string text(kLongestPolicy + 1, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) problem = "the station policy " + path + " cannot be read: " + LastSystemError();
  if (!failed && text.size() > kLongestPolicy) {
    problem = "the station policy " + path + " is longer than 64 KiB: it is no policy";
  }
  return problem.empty() && ParsePolicyText(path, text, policy, problem);
}

}  // namespace qs71prog
