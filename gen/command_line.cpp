#include "command_line.h"

#include <cstring>

namespace {

struct OptionRow {
  const char* name;
  const char* shortName;
  bool GenOptions::*flag;          // a switch, or
  std::string GenOptions::*value;  // an option with a value
  const char* valueName;           // what a missing value is called
};

const OptionRow kOptions[] = {
    {"--strict", nullptr, &GenOptions::strict, nullptr, nullptr},
    {"--help", "-h", &GenOptions::help, nullptr, nullptr},
    {"--version", "-V", &GenOptions::version, nullptr, nullptr},
    {"--map", nullptr, nullptr, &GenOptions::map, "a file name"},
    {"--failed-image", nullptr, nullptr, &GenOptions::failedImage, "a file name"},
    {"--html", nullptr, nullptr, &GenOptions::html, "a file name"},
    {"--resample", nullptr, &GenOptions::resample, nullptr, nullptr},
    {"--dither", nullptr, &GenOptions::dither, nullptr, nullptr},
    {"--loudness", nullptr, nullptr, &GenOptions::loudness, "a value"},
    {"--trim", nullptr, nullptr, &GenOptions::trim, "a value"},
    {"--highpass", nullptr, nullptr, &GenOptions::highpass, "a value"},
    {"--keep-prepared", nullptr, nullptr, &GenOptions::keepPrepared, "a folder name"},
};

// The row an argument names, with "=VALUE" split off into inlineValue.
const OptionRow* FindOption(const std::string& arg, std::string* inlineValue, bool* hasInline) {
  const size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  *hasInline = eq != std::string::npos;
  if (*hasInline) *inlineValue = arg.substr(eq + 1);
  for (const OptionRow& row : kOptions) {
    if (name == row.name || (row.shortName != nullptr && name == row.shortName)) return &row;
  }
  return nullptr;
}

}  // namespace

const char kGenUsage[] =
    "Usage: qs71gen <script-file> <output-file> [<parameter 3> ... <parameter 9>]\n"
    "Compiles the script and the wave files it names into an OTP image for the QS71 chips.\n"
    "The script reads the command line as %1 (script) to %9; exit code 0 on success,\n"
    "-2 when a file cannot be opened, -3 when the script has errors.\n";

const char kGenHelp[] =
    "Usage: qs71gen [options] <script-file> <output-file> [<parameter 3> ... <parameter 9>]\n"
    "Compiles the script and the wave files it names into an OTP image for the QS71 chips.\n"
    "The script reads the command line as %1 (script) to %9.\n"
    "\n"
    "Options (before the script name):\n"
    "  --strict             every warning counts as an error: exit -3 and no image\n"
    "  --map FILE           write a map of the image: sounds, sections, free bytes, SHA-256\n"
    "  --failed-image FILE  keep the image of a failed compile in FILE, for inspection only\n"
    "  --html FILE          write a page of the image: map, sounds to see and hear, warnings\n"
    "  -h, --help           this text\n"
    "  -V, --version        the version\n"
    "\n"
    "Sound preparation (with any of these a sound may be any WAV, AIFF or FLAC, mixed to mono;\n"
    "the steps run in this order):\n"
    "  --highpass HZ        second-order high-pass at HZ (1 to 4000) against DC and rumble\n"
    "  --trim DBFS          cut leading and trailing audio below DBFS (-120 to -1), keeping 10 ms\n"
    "  --resample           resample each sound to the rate the chip plays its link at\n"
    "  --loudness LUFS      set each sound to LUFS (-70 to -1) integrated loudness, peak at most -1 dBFS\n"
    "  --dither             TPDF dither before the PCM8 and u-law quantisers\n"
    "  --keep-prepared DIR  write each prepared sound to DIR as a 16-bit WAV, for listening\n"
    "\n"
    "Progress, listings and errors go to standard output; warnings go to standard error as\n"
    "<script>:<line>: warning: <text>. The output file is replaced only by the image of a\n"
    "compile without errors; otherwise it keeps what it held.\n"
    "Exit codes: 0 success, -2 a file cannot be opened or the command line is wrong,\n"
    "-3 the script has errors, 2 a line longer than 8191 characters.\n";

bool IsGenOption(const std::string& arg) {
  std::string value;
  bool hasInline = false;
  return FindOption(arg, &value, &hasInline) != nullptr;
}

bool ParseGenOptions(int argc, const char* const* argv, GenOptions* options, std::string* error) {
  int i = 1;
  while (i < argc && argv[i][0] == '-' && argv[i][1] != '\0') {
    std::string value;
    bool hasInline = false;
    const OptionRow* row = FindOption(argv[i], &value, &hasInline);
    if (row == nullptr || (row->flag != nullptr && hasInline)) {
      *error = std::string("unknown option ") + argv[i];
      return false;
    }
    if (row->flag != nullptr) {
      options->*row->flag = true;
    } else {
      const std::string needs = std::string(row->name) + " needs " + row->valueName;
      if (!hasInline && i + 1 >= argc) return *error = needs, false;
      options->*row->value = hasInline ? value : argv[++i];
      if ((options->*row->value).empty()) return *error = needs, false;
    }
    ++i;
  }
  options->scriptIndex = i;
  return true;
}
