#include "cli/name_checks.h"

#include <cstdio>

#include "platform/host_system.h"
#include "trace/connection_password.h"
#include "utf8_text.h"

namespace qs71prog {

namespace {

struct NamedText {
  const char* option;
  std::string Options::*member;
  bool file;
};

// The image's option is whichever of --write, --verify or --job named it.
const NamedText kNames[] = {
    {"--operator", &Options::operatorName, false},
    {"--station", &Options::station, false},
    {nullptr, &Options::image, true},
    {"--log", &Options::log, true},
    {"--transcript", &Options::transcript, true},
    {"--summary", &Options::summary, true},
    {"--emulate=", &Options::otpFile, true},
    {"--library", &Options::library, true},
    {"--trace", &Options::trace, true},
    {"--export-csv", &Options::exportCsv, true},
    {"--report", &Options::report, true},
    {"--make-key", &Options::makeKey, true},
    {"--make-job", &Options::makeJob, true},
    {"--show-job", &Options::showJob, true},
    {"--sign", &Options::sign, true},
};

// The characters that show as nothing or turn the text around (zero-width spaces and joiners,
// the bidirectional marks, embeddings and isolates, the byte-order mark): with them two names
// that look alike are two operators, and a report's rows read reordered. UTF-8 bytes: the
// first two and the range of the third.
struct Invisible {
  unsigned char first, second, low, high;
  unsigned codePoint;  // of low
};
constexpr Invisible kInvisible[] = {{0xE2, 0x80, 0x8B, 0x8F, 0x200B},
                                    {0xE2, 0x80, 0xAA, 0xAE, 0x202A},
                                    {0xE2, 0x81, 0xA0, 0xA4, 0x2060},
                                    {0xE2, 0x81, 0xA6, 0xA9, 0x2066},
                                    {0xEF, 0xBB, 0xBF, 0xBF, 0xFEFF}};

std::string InvisibleFault(const std::string& text) {
  for (size_t at = 0; at + 2 < text.size(); ++at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    for (const Invisible& c : kInvisible) {
      if (byte(0) != c.first || byte(1) != c.second || byte(2) < c.low || byte(2) > c.high) continue;
      char code[8];
      std::snprintf(code, sizeof code, "%04X", c.codePoint + (byte(2) - c.low));
      return std::string("holds U+") + code + ", which shows as nothing or turns the text around "
             "(byte " + std::to_string(at + 1) + ")";
    }
  }
  return "";
}

std::string ImageOption(const Options& options) {
  if (!options.jobFile.empty()) return "--job";
  return options.selection.write ? "--write" : "--verify";
}

// "" when text may stand; else why not, with the text shown so that a terminal shows it as it is.
// A connection string is shown without its password.
std::string Fault(const std::string& named, const std::string& text, bool file) {
  std::string fault = PlainTextFault(text);
  if (file && !FileNamesInUtf8() && fault.starts_with("is not UTF-8")) fault.clear();
  if (fault.empty() && !file) fault = InvisibleFault(text);
  if (fault.empty()) return "";
  return named + " \"" + PrintableText(WithoutPassword(text, text)) + "\" " + fault +
         (file ? ": a file's name is kept as text, one line of UTF-8; rename the file"
               : ": a name is kept as text, one line of UTF-8");
}

}  // namespace

bool CheckNames(Options& options, std::string& error) {
  for (const NamedText& name : kNames) {
    std::string& text = options.*name.member;
    if (!name.file) text = SystemTextInUtf8(text);
    const std::string option = name.option == nullptr ? ImageOption(options) : name.option;
    error = Fault(option, text, name.file);
    if (!error.empty()) return false;
  }
  for (const std::string& key : options.trust) {
    error = Fault("--trust", key, true);
    if (!error.empty()) return false;
  }
  if (options.production) {
    error = Fault("this computer's name", HostName(), false);
    if (!error.empty()) error += ", or name the computer again";
  }
  return error.empty();
}

}  // namespace qs71prog
