// The sound preparation's libraries (libsndfile, libsoxr, libebur128) opened at their first call
// rather than by the loader at every start: with their own dependencies they are 13 shared
// objects, which cost a plain compile (no preparation option, plain wave files) more start-up
// time than the rest of the program and some of its memory, for calls it never makes.
//
// Each function the generator calls is defined here under the library's own name and passes
// the call on to the library, opened once by the name its build linked against
// (QS71_*_SONAME, from the build). Code that calls them is written as for a linked library. A
// call this file lacks fails to link on Linux: add it here beside the others. When a library
// cannot be opened, its calls fail as the library's own would, and the reason they give is the
// loader's, so a prepared sound names it in its refusal.
//
// Windows links the libraries statically (nothing to open at start), and does not build this.

#include <ebur128.h>
#include <sndfile.h>
#include <soxr.h>

#include <string>

#include "shared_library.h"

namespace {

struct OpenedLibrary {
  SharedLibrary library;
  std::string error;  // the loader's reason, when it could not be opened
};

OpenedLibrary Open(const char* soname) {
  OpenedLibrary opened;
  opened.library.Open(soname, opened.error);
  return opened;
}

// Opened once for the process and kept open: the calls' results (a SNDFILE, a resampler) live
// as long as their callers keep them. Thread-safe as any function's static.
const OpenedLibrary& Sndfile() {
  static const OpenedLibrary opened = Open(QS71_SNDFILE_SONAME);
  return opened;
}

const OpenedLibrary& Soxr() {
  static const OpenedLibrary opened = Open(QS71_SOXR_SONAME);
  return opened;
}

const OpenedLibrary& Ebur128() {
  static const OpenedLibrary opened = Open(QS71_EBUR128_SONAME);
  return opened;
}

// The library's own function of the same type as the declaration here; null when the library
// could not be opened or lacks it.
template <typename Function>
Function Real(const OpenedLibrary& opened, const char* name) {
  return opened.library.Find<Function>(name);
}

const char* Reason(const OpenedLibrary& opened) {
  return opened.error.empty() ? "the library lacks a function the generator calls" : opened.error.c_str();
}

}  // namespace

// --- libsndfile ---------------------------------------------------------------------------

SNDFILE* sf_open(const char* path, int mode, SF_INFO* info) {
  static const auto real = Real<decltype(&sf_open)>(Sndfile(), "sf_open");
  return real != nullptr ? real(path, mode, info) : nullptr;
}

SNDFILE* sf_open_virtual(SF_VIRTUAL_IO* io, int mode, SF_INFO* info, void* user) {
  static const auto real = Real<decltype(&sf_open_virtual)>(Sndfile(), "sf_open_virtual");
  return real != nullptr ? real(io, mode, info, user) : nullptr;
}

// After a failed open (file null) the reason is the library's, or the loader's when it is missing.
const char* sf_strerror(SNDFILE* file) {
  static const auto real = Real<decltype(&sf_strerror)>(Sndfile(), "sf_strerror");
  return real != nullptr ? real(file) : Reason(Sndfile());
}

int sf_close(SNDFILE* file) {
  static const auto real = Real<decltype(&sf_close)>(Sndfile(), "sf_close");
  return real != nullptr ? real(file) : 0;
}

sf_count_t sf_readf_double(SNDFILE* file, double* frames, sf_count_t count) {
  static const auto real = Real<decltype(&sf_readf_double)>(Sndfile(), "sf_readf_double");
  return real != nullptr ? real(file, frames, count) : 0;
}

sf_count_t sf_read_short(SNDFILE* file, short* samples, sf_count_t count) {
  static const auto real = Real<decltype(&sf_read_short)>(Sndfile(), "sf_read_short");
  return real != nullptr ? real(file, samples, count) : 0;
}

sf_count_t sf_write_short(SNDFILE* file, const short* samples, sf_count_t count) {
  static const auto real = Real<decltype(&sf_write_short)>(Sndfile(), "sf_write_short");
  return real != nullptr ? real(file, samples, count) : 0;
}

// The tests' and fuzz targets' WAV writer, linked with the generator.
sf_count_t sf_writef_double(SNDFILE* file, const double* frames, sf_count_t count) {
  static const auto real = Real<decltype(&sf_writef_double)>(Sndfile(), "sf_writef_double");
  return real != nullptr ? real(file, frames, count) : 0;
}

sf_count_t sf_writef_int(SNDFILE* file, const int* frames, sf_count_t count) {
  static const auto real = Real<decltype(&sf_writef_int)>(Sndfile(), "sf_writef_int");
  return real != nullptr ? real(file, frames, count) : 0;
}

// --- libsoxr ------------------------------------------------------------------------------

soxr_io_spec_t soxr_io_spec(soxr_datatype_t input, soxr_datatype_t output) {
  static const auto real = Real<decltype(&soxr_io_spec)>(Soxr(), "soxr_io_spec");
  return real != nullptr ? real(input, output) : soxr_io_spec_t{};
}

soxr_quality_spec_t soxr_quality_spec(unsigned long recipe, unsigned long flags) {
  static const auto real = Real<decltype(&soxr_quality_spec)>(Soxr(), "soxr_quality_spec");
  return real != nullptr ? real(recipe, flags) : soxr_quality_spec_t{};
}

soxr_runtime_spec_t soxr_runtime_spec(unsigned threads) {
  static const auto real = Real<decltype(&soxr_runtime_spec)>(Soxr(), "soxr_runtime_spec");
  return real != nullptr ? real(threads) : soxr_runtime_spec_t{};
}

soxr_t soxr_create(double inRate, double outRate, unsigned channels, soxr_error_t* error,
                   const soxr_io_spec_t* io, const soxr_quality_spec_t* quality,
                   const soxr_runtime_spec_t* runtime) {
  static const auto real = Real<decltype(&soxr_create)>(Soxr(), "soxr_create");
  if (real != nullptr) return real(inRate, outRate, channels, error, io, quality, runtime);
  if (error != nullptr) *error = Reason(Soxr());
  return nullptr;
}

soxr_error_t soxr_process(soxr_t resampler, soxr_in_t in, size_t inLength, size_t* used, soxr_out_t out,
                          size_t outLength, size_t* made) {
  static const auto real = Real<decltype(&soxr_process)>(Soxr(), "soxr_process");
  return real != nullptr ? real(resampler, in, inLength, used, out, outLength, made) : Reason(Soxr());
}

void soxr_delete(soxr_t resampler) {
  static const auto real = Real<decltype(&soxr_delete)>(Soxr(), "soxr_delete");
  if (real != nullptr) real(resampler);
}

// --- libebur128 ---------------------------------------------------------------------------

ebur128_state* ebur128_init(unsigned int channels, unsigned long rate, int mode) {
  static const auto real = Real<decltype(&ebur128_init)>(Ebur128(), "ebur128_init");
  return real != nullptr ? real(channels, rate, mode) : nullptr;
}

void ebur128_destroy(ebur128_state** state) {
  static const auto real = Real<decltype(&ebur128_destroy)>(Ebur128(), "ebur128_destroy");
  if (real != nullptr) real(state);
}

int ebur128_add_frames_double(ebur128_state* state, const double* frames, size_t count) {
  static const auto real = Real<decltype(&ebur128_add_frames_double)>(Ebur128(), "ebur128_add_frames_double");
  return real != nullptr ? real(state, frames, count) : EBUR128_ERROR_NOMEM;
}

int ebur128_loudness_global(ebur128_state* state, double* loudness) {
  static const auto real = Real<decltype(&ebur128_loudness_global)>(Ebur128(), "ebur128_loudness_global");
  return real != nullptr ? real(state, loudness) : EBUR128_ERROR_NOMEM;
}
