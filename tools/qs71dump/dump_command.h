#pragma once
// qs71dump from arguments to exit status, with standard output and standard error as text so
// that tests run it in process.

#include <cstdio>
#include <string>
#include <vector>

struct DumpOutput {
  std::string out;
  std::string err;
};

// args without the program name. Returns the exit status.
int RunDump(const std::vector<std::string>& args, DumpOutput* output);

// Writes output to out and err and closes out. Returns status, or the exit status of a
// failed write with its reason on err when out did not take everything (a full disk, a
// closed pipe): a report that was cut short must not look like one that was written.
int EmitDumpOutput(const DumpOutput& output, int status, FILE* out, FILE* err);

struct ImageMap;

// The map as JSON: the same content as the text report, with stable snake_case keys,
// positions and values as decimal integers, one document per image (json_report.cpp).
std::string JsonReport(const ImageMap& map);
