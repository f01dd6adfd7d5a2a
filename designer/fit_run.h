#pragma once
// qs71gen --fit NEW.qs [--project FILE | SCRIPT] OUT: reads the script's sounds as a compile with --resample would
// (pass 1, its listing kept out of sight), measures every codec at every rate the chip plays for
// each (fit_measure.h), chooses the best mix the part holds (fit_choice.h), writes the script
// with only those choices changed to NEW.qs (script_rewrite.h), compiles NEW.qs into OUT with
// the same options and --resample, and prints a table of the choice after the compile's listing.
//
// Nothing is written when the script's sounds cannot all be read (the compile of the script is
// run instead, to give its errors), when nothing fits the part, or when NEW.qs would be the
// script, a wave file or an output of the run.

#include <string>
#include <vector>

struct CompileState;
struct GenOptions;
struct ProjectFile;

// What a fit is asked. The command line gives it; another front end (a project file) can give
// the same: the compile's options as command-line words, without --fit.
struct FitRequest {
  std::string newScript;
  std::vector<std::string> options;
  std::string script;
  std::string image;
  std::vector<std::string> parameters;  // the script's %3 to %9
  std::string map, html, failedImage;   // outputs the new script must not be
  std::string project;                  // --project, which the new script must not be either
};

// The exit code: the compile's of NEW.qs, or of the script when its sounds cannot all be read;
// -2 for a name refused, -3 when nothing fits.
int RunFitRequest(CompileState& s, const FitRequest& request);

// The command line's fit: the options before the script name but --fit. With a project
// (--fit NEW.qs --project FILE [OUT]) the script, its parameters and the image unless OUT is
// given are the project's, and every compile of the fit, NEW.qs's too, is run with the project.
int RunFit(CompileState& s, int argc, const char* const* argv, const GenOptions& options, const ProjectFile& project);
