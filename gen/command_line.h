#pragma once
// qs71gen's options. They come before the script name, which never starts with '-'; everything
// from the script name on is the script's own command line (%1 to %9) and keeps any text.

#include <string>

struct GenOptions {
  bool strict = false;       // --strict: every warning is a counted error
  bool help = false;         // -h, --help
  bool version = false;      // -V, --version
  bool rates = false;        // --rates [HZ]: the rates the chip plays, near HZ or the common ones
  std::string ratesNear;     // HZ, when given
  std::string map;           // --map FILE
  std::string failedImage;   // --failed-image FILE
  std::string html;          // --html FILE
  int adpcmQuality = 0;      // --adpcm-quality N, 0..3
  // Sound preparation (the values are checked by ParsePreparationValues).
  bool resample = false;     // --resample
  bool dither = false;       // --dither
  std::string loudness;      // --loudness LUFS
  std::string trim;          // --trim DBFS[:HOLD]
  std::string highpass;      // --highpass HZ[:ORDER]
  std::string limit;         // --limit DBFS
  std::string keepPrepared;  // --keep-prepared DIR
  std::string fit;           // --fit NEW.qs: choose codecs and rates, write them into NEW.qs
  std::string spl;           // --spl DB (checked by ParseSplSettings)
  std::string splLimit;      // --spl-limit LAEQ[:LCPEAK]
  std::string project;       // --project FILE: the script, outputs and settings from FILE
  std::string initProject;   // --init-project FILE: write a project for the script named next
  bool watch = false;        // --watch: compile again whenever an input changes
  bool serve = false;        // --serve [PORT]: --watch, and the page served on 127.0.0.1
  std::string servePort;     // PORT, when given
  int scriptIndex = 1;       // argv index of the script name
};

// False for an option that does not exist or lacks its value; error then says which.
bool ParseGenOptions(int argc, const char* const* argv, GenOptions* options, std::string* error);

// True when arg (without any "=VALUE") names one of the options above.
bool IsGenOption(const std::string& arg);

// The usage that follows an open failure when fewer than two names were given.
extern const char kGenUsage[];

// --help: the usage and the options.
extern const char kGenHelp[];
