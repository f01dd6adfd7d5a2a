#include "command_line.h"

#include <cstdlib>
#include <cstring>

#include "audio/adpcm_encoder.h"

namespace {

struct OptionRow {
  const char* name;
  const char* shortName;
  bool GenOptions::*flag;          // a switch, or
  std::string GenOptions::*value;  // an option with a text (with flag: a number that may follow), or
  int GenOptions::*level;          // an option with a number from 0 to maxLevel
  int maxLevel;
  const char* valueName;           // what a missing text is called (null: a file name)
};

const OptionRow kOptions[] = {
    {"--strict", nullptr, &GenOptions::strict, nullptr, nullptr, 0, nullptr},
    {"--help", "-h", &GenOptions::help, nullptr, nullptr, 0, nullptr},
    {"--version", "-V", &GenOptions::version, nullptr, nullptr, 0, nullptr},
    {"--map", nullptr, nullptr, &GenOptions::map, nullptr, 0, nullptr},
    {"--failed-image", nullptr, nullptr, &GenOptions::failedImage, nullptr, 0, nullptr},
    {"--html", nullptr, nullptr, &GenOptions::html, nullptr, 0, nullptr},
    {"--adpcm-quality", nullptr, nullptr, nullptr, &GenOptions::adpcmQuality, kAdpcmQualityMax, nullptr},
    {"--resample", nullptr, &GenOptions::resample, nullptr, nullptr, 0, nullptr},
    {"--dither", nullptr, &GenOptions::dither, nullptr, nullptr, 0, nullptr},
    {"--loudness", nullptr, nullptr, &GenOptions::loudness, nullptr, 0, "a value"},
    {"--trim", nullptr, nullptr, &GenOptions::trim, nullptr, 0, "a value"},
    {"--highpass", nullptr, nullptr, &GenOptions::highpass, nullptr, 0, "a value"},
    {"--limit", nullptr, nullptr, &GenOptions::limit, nullptr, 0, "a value"},
    {"--keep-prepared", nullptr, nullptr, &GenOptions::keepPrepared, nullptr, 0, "a folder name"},
    {"--rates", nullptr, &GenOptions::rates, &GenOptions::ratesNear, nullptr, 0, nullptr},
    {"--fit", nullptr, nullptr, &GenOptions::fit, nullptr, 0, nullptr},
    {"--spl", nullptr, nullptr, &GenOptions::spl, nullptr, 0, "a value"},
    {"--spl-limit", nullptr, nullptr, &GenOptions::splLimit, nullptr, 0, "a value"},
    {"--project", nullptr, nullptr, &GenOptions::project, nullptr, 0, nullptr},
    {"--init-project", nullptr, nullptr, &GenOptions::initProject, nullptr, 0, nullptr},
    {"--watch", nullptr, &GenOptions::watch, nullptr, nullptr, 0, nullptr},
    {"--serve", nullptr, &GenOptions::serve, &GenOptions::servePort, nullptr, 0, nullptr},
};

// Only plain decimal digits: "2x", "+1" or " 3" are no level.
bool ParseLevel(const std::string& text, int maxLevel, int* level) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *level = std::atoi(text.c_str());
  return *level <= maxLevel;
}

// An option's value, from "=VALUE" or the next argument; false with *error set when it is missing or wrong.
bool TakeValue(const OptionRow& row, const std::string& value, GenOptions* options, std::string* error) {
  if (row.level != nullptr) {
    if (ParseLevel(value, row.maxLevel, &(options->*row.level))) return true;
    *error = std::string(row.name) + " needs a level from 0 to " + std::to_string(row.maxLevel) +
             (value.empty() ? "" : ", not " + value);
    return false;
  }
  options->*row.value = value;
  if (value.empty()) *error = std::string(row.name) + " needs " + (row.valueName != nullptr ? row.valueName : "a file name");
  return !value.empty();
}

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

// A value that may follow a switch: the next argument when it is all digits, never a script
// name ("--serve 1song.qs out.bin" serves that script).
std::string OptionalValue(int argc, const char* const* argv, int* i) {
  if (*i + 1 >= argc) return "";
  const std::string next = argv[*i + 1];
  if (next.empty() || next.find_first_not_of("0123456789") != std::string::npos) return "";
  return argv[++*i];
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
    "  --adpcm-quality N    how hard the ADPCM encoder searches for the codes the chip plays\n"
    "                       closest to the wave; a sound keeps its size, every chip plays it:\n"
    "                       0  the chip tools' greedy encoder, byte for byte (default)\n"
    "                       1  +0.9 to +1.0 dB SNR on speech, about 0.05 us a sample\n"
    "                       2  +2.1 to +2.7 dB, about 2 us a sample\n"
    "                       3  +2.4 to +3.1 dB, about 9 us a sample (1 s of 8 kHz speech: 0.08 s)\n"
    "  --project FILE       compile the project FILE (TOML): its script, outputs and settings,\n"
    "                       also per sound; the options given here go over its settings\n"
    "  --init-project FILE SCRIPT  write a commented project for SCRIPT into FILE (a new file)\n"
    "  --rates [HZ]         the rates the chip plays near HZ, or near the common rates\n"
    "  --fit NEW.qs         choose each sound's codec and rate for the best sound the part holds,\n"
    "                       write the script so changed to NEW.qs and compile it (with --resample)\n"
    "  --spl DB             the toy's sound-pressure level (dB SPL, above 0 to 200) for a full-scale\n"
    "                       1 kHz sine, as a meter measured it once: the map and the page then give\n"
    "                       each sound's predicted LAeq and LCpeak in the toy\n"
    "  --spl-limit LAEQ[:LCPEAK]\n"
    "                       with --spl, warn about each sound above these levels (dB); take them\n"
    "                       from the standard that applies to the toy: qs71gen sets none of its own\n"
    "  --watch              compile, then compile again whenever the script, the project or a\n"
    "                       wave file the last compile read changes; Ctrl-C ends it\n"
    "  --serve [PORT]       --watch, and serve the page on http://127.0.0.1:PORT/ (default 8071),\n"
    "                       which reloads itself after each compile\n"
    "  -h, --help           this text\n"
    "  -V, --version        the version\n"
    "\n"
    "Sound preparation (with any of these a sound may be any WAV, AIFF or FLAC, mixed to mono;\n"
    "the steps run in this order):\n"
    "  --highpass HZ[:N]    Butterworth high-pass at HZ (1 to 4000) against DC and rumble, of\n"
    "                       order N (2 to 8, 6 dB an octave each; default 4)\n"
    "  --trim DBFS[:MS]     cut leading and trailing audio below DBFS (-120 to -1), keeping 10 ms;\n"
    "                       sound is what stays above DBFS for MS ms (0 to 1000, default 20);\n"
    "                       peak-DB[:MS]: DB (1 to 120) under each sound's own peak instead\n"
    "  --resample           resample each sound to the rate the chip plays its link at\n"
    "  --loudness LUFS      set each sound to LUFS (-70 to -1) integrated loudness, peak at most -1 dBFS\n"
    "  --limit DBFS         a look-ahead peak limiter at DBFS (-30 to 0) after the loudness gain,\n"
    "                       in place of the -1 dBFS ceiling, so that a loud LUFS is reached\n"
    "  --dither             TPDF dither before the PCM8 (then rounded) and u-law quantisers\n"
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
    if (row == nullptr || (row->flag != nullptr && row->value == nullptr && hasInline)) {
      *error = std::string("unknown option ") + argv[i];
      return false;
    }
    if (row->flag != nullptr) {
      options->*row->flag = true;
      if (row->value != nullptr) options->*row->value = hasInline ? value : OptionalValue(argc, argv, &i);
    } else if (!TakeValue(*row, hasInline ? value : (i + 1 < argc ? argv[++i] : ""), options, error)) {
      return false;
    }
    ++i;
  }
  options->scriptIndex = i;
  return true;
}
