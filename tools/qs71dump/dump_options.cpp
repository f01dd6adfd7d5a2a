#include "dump_options.h"

#include <cerrno>
#include <cstdlib>

#include "dump_result.h"

#ifndef QS71DUMP_VERSION
#define QS71DUMP_VERSION "unknown"
#endif

namespace {

// Decimal, or hexadecimal with 0x; a sign is allowed. The whole text must be the number.
bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

enum class Takes { Nothing, Value };

struct OptionRow {
  const char* name;
  Takes takes;
  bool (*apply)(const std::string& value, DumpOptions* options);
};

bool SetJson(const std::string&, DumpOptions* o) { return o->json = true; }
bool SetHelp(const std::string&, DumpOptions* o) { return o->help = true; }
bool SetVersion(const std::string&, DumpOptions* o) { return o->version = true; }

bool SetExtract(const std::string& v, DumpOptions* o) {
  o->extractDir = v;
  return !v.empty();
}

bool SetHtml(const std::string& v, DumpOptions* o) {
  o->htmlFile = v;
  return !v.empty();
}

bool SetNames(const std::string& v, DumpOptions* o) {
  o->namesFile = v;
  return !v.empty();
}

bool SetMainClock(const std::string& v, DumpOptions* o) {
  long long hz = 0;
  if (!ParseInteger(v, 1, 0x7FFFFFFF, &hz)) return false;
  o->settings.mainClockHz = hz;
  o->mainClockGiven = true;
  return true;
}

bool SetGrpAdr(const std::string& v, DumpOptions* o) {
  long long n = 0;
  if (!ParseInteger(v, 1, 4, &n)) return false;
  o->settings.grpAdr = static_cast<int32_t>(n);
  return true;
}

bool SetOffset(const std::string& v, DumpOptions* o) {
  long long n = 0;
  if (!ParseInteger(v, INT32_MIN, INT32_MAX, &n)) return false;
  o->settings.offset = static_cast<int32_t>(n);
  o->settings.offsetGiven = true;
  return true;
}

const OptionRow kOptions[] = {
    {"--json", Takes::Nothing, SetJson},
    {"--help", Takes::Nothing, SetHelp},
    {"-h", Takes::Nothing, SetHelp},
    {"--version", Takes::Nothing, SetVersion},
    {"-V", Takes::Nothing, SetVersion},
    {"--extract", Takes::Value, SetExtract},
    {"--html", Takes::Value, SetHtml},
    {"--names", Takes::Value, SetNames},
    {"--main-clock", Takes::Value, SetMainClock},
    {"--grpadr", Takes::Value, SetGrpAdr},
    {"--offset", Takes::Value, SetOffset},
};

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// "--name=value" or "--name value"; *i moves past what was used.
int ApplyOption(const std::vector<std::string>& args, size_t* i, DumpOptions* options,
                std::string* problem) {
  std::string name = args[*i];
  std::string value;
  const size_t equals = name.find('=');
  const bool inline_value = equals != std::string::npos;
  if (inline_value) {
    value = name.substr(equals + 1);
    name.resize(equals);
  }
  const OptionRow* row = FindOption(name);
  if (row == nullptr || (row->takes == Takes::Nothing && inline_value)) {
    *problem = Format("unknown option %s", args[*i].c_str());
    return DumpUsage;
  }
  if (row->takes == Takes::Value && !inline_value) {
    if (*i + 1 >= args.size()) {
      *problem = Format("%s needs a value", name.c_str());
      return DumpUsage;
    }
    value = args[++*i];
  }
  if (!row->apply(value, options)) {
    *problem = Format("invalid value for %s: %s", name.c_str(), value.c_str());
    return DumpUsage;
  }
  return DumpOk;
}

}  // namespace

int ParseDumpOptions(const std::vector<std::string>& args, DumpOptions* options,
                     std::string* problem) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 1 && arg[0] == '-') {
      const int r = ApplyOption(args, &i, options, problem);
      if (r != DumpOk) return r;
    } else if (options->image.empty()) {
      options->image = arg;
    } else {
      *problem = Format("more than one image: %s", arg.c_str());
      return DumpUsage;
    }
  }
  if (options->image.empty() && !options->help && !options->version) {
    *problem = "no image given";
    return DumpUsage;
  }
  if (!options->namesFile.empty() && options->extractDir.empty() && options->htmlFile.empty()) {
    *problem = "--names names the files of --extract (and the page's downloads): give --extract DIR";
    return DumpUsage;
  }
  return DumpOk;
}

const char* DumpUsageText() {
  return "Usage: qs71dump [options] IMAGE\n"
         "Shows what a QS71 OTP image holds: header words, sections and group links, sounds\n"
         "and free space, option or configuration block, volume map, and the system area\n"
         "judged by the programmer library's rules.\n"
         "\n"
         "Options:\n"
         "  --json            the same content as JSON\n"
         "  --extract DIR     write every distinct sound to DIR as a WAV file, decoded as the\n"
         "                    chip plays it\n"
         "  --names FILE      name those files after the sounds (hello.wav): FILE is the\n"
         "                    script that made the image, or qs71gen's map of it\n"
         "  --html FILE       write FILE, one HTML page that needs nothing beside it: the\n"
         "                    part drawn to scale, the sections, each sound's waveform and a\n"
         "                    player of what the chip plays\n"
         "  --main-clock HZ   main clock for the rates of the dividers: the script's\n"
         "                    $MAINCLK (default 16384000)\n"
         "  --grpadr N        bytes per group address, 1 to 4 (default: detected)\n"
         "  --offset N        chip address of the image's first byte (default: detected)\n"
         "  -h, --help        this text\n"
         "  -V, --version     the version\n"
         "\n"
         "Exit status: 0 done, 1 bad command line, 2 a file or standard output cannot be\n"
         "read or written, 3 the file is not an image (too small or large, no tag,\n"
         "inconsistent tables).\n";
}

const char* DumpVersionText() { return "qs71dump " QS71DUMP_VERSION "\n"; }
