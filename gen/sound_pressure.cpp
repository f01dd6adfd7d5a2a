#include "sound_pressure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ascii_case.h"
#include "audio/spl_weighting.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "image_layout.h"
#include "name_tables.h"
#include "output_file.h"
#include "playback_rate.h"
#include "sound_decoders.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "text_format.h"
#include "warnings.h"

namespace {

// Louder than any sound a toy, or air, carries: a figure above it is a typing error.
constexpr double kMaxSplDb = 200.0;

// A sine's peak above its RMS, 20 log10(sqrt 2): the full-scale sine is 3.01 dB below full scale.
const double kSinePeakDb = 10.0 * std::log10(2.0);

// Above 0 dB and at most kMaxSplDb.
bool ParseSpl(const std::string& text, double* db) { return ParseNumber(text, 0.0, kMaxSplDb, db) && *db > 0.0; }

bool ParseLimits(const std::string& text, SplSettings* settings) {
  const size_t colon = text.find(':');
  settings->laeqLimit = ParseSpl(text.substr(0, colon), &settings->laeqLimitDb);
  if (colon == std::string::npos) return settings->laeqLimit;
  settings->lcpeakLimit = ParseSpl(text.substr(colon + 1), &settings->lcpeakLimitDb);
  return settings->laeqLimit && settings->lcpeakLimit;
}

// Why ParseLimits refused a text: a part that is no number at all (nan, inf, a word) is said
// so; a part left out, or out of range, is out of range.
const char* LimitFault(const std::string& text) {
  const size_t colon = text.find(':');
  const auto number = [](const std::string& part) {
    double any = 0;
    return part.empty() || ParseNumber(part, -HUGE_VAL, HUGE_VAL, &any);
  };
  const bool numbers = number(text.substr(0, colon)) && (colon == std::string::npos || number(text.substr(colon + 1)));
  return numbers ? "is out of range" : "is not a number";
}

std::string Db(double db) { return std::isfinite(db) ? Format("%.1f", db) : "-inf"; }

// "LAeq and LCpeak" above their limits, or empty.
std::string AboveLimits(const SplSettings& spl, const SoundPressure& p) {
  const bool laeq = spl.laeqLimit && p.laeqDb > spl.laeqLimitDb;
  const bool lcpeak = spl.lcpeakLimit && p.lcpeakDb > spl.lcpeakLimitDb;
  return std::string(laeq ? "LAeq" : "") + (laeq && lcpeak ? " and " : "") + (lcpeak ? "LCpeak" : "");
}

void WarnAboveLimits(CompileState& s, const SoundReport& report, const SoundPressure& p) {
  const SplSettings& spl = s.Reports.spl;
  if (spl.laeqLimit && p.laeqDb > spl.laeqLimitDb) {
    AdviseSound(s, report.line, report.name, SoundBadge::OverSplLimit, "sound %s, played at %d Hz, is predicted at LAeq %.1f dB in the toy, above the limit "
           "of %.1f dB (--spl-limit)", report.name.c_str(), p.playedHz, p.laeqDb, spl.laeqLimitDb);
  }
  if (spl.lcpeakLimit && p.lcpeakDb > spl.lcpeakLimitDb) {
    AdviseSound(s, report.line, report.name, SoundBadge::OverSplLimit, "sound %s, played at %d Hz, is predicted at LCpeak %.1f dB in the toy, above the limit "
           "of %.1f dB (--spl-limit)", report.name.c_str(), p.playedHz, p.lcpeakDb, spl.lcpeakLimitDb);
  }
}

}  // namespace

bool ParseSplSettings(const std::string& spl, const std::string& limit, SplSettings* settings, std::string* error) {
  if (!spl.empty() && !ParseSpl(spl, &settings->referenceDb)) {
    return *error = Format("--spl %s %s: give the toy's level in dB SPL for a full-scale 1 kHz sine, above 0 to %.0f",
                           spl.c_str(), NumberFault(spl), kMaxSplDb), false;
  }
  settings->given = !spl.empty();
  if (limit.empty()) return true;
  if (!ParseLimits(limit, settings)) {
    return *error = Format("--spl-limit %s %s: give LAEQ or LAEQ:LCPEAK in dB, each above 0 to %.0f", limit.c_str(),
                           LimitFault(limit), kMaxSplDb), false;
  }
  if (!settings->given) return *error = "--spl-limit needs --spl, the toy's level for a full-scale 1 kHz sine", false;
  // A sound's C-weighted peak is never below its A-weighted mean: such limits are the wrong way round.
  if (settings->lcpeakLimit && settings->lcpeakLimitDb < settings->laeqLimitDb) {
    return *error = Format("--spl-limit %s gives a peak limit below the LAeq limit: give LAEQ first, then LCPEAK "
                           "(the standards' peak limits are the higher)", limit.c_str()), false;
  }
  return true;
}

void PredictSoundPressure(CompileState& s, const std::vector<int32_t>& played, uint8_t divider, SoundReport* report) {
  const int64_t clock = int64_t{s.MainClk} * 32;
  WeightedLevels levels;
  if (!MeasureWeighted(played, LinkRate(clock, divider), &levels)) return;
  const double reference = s.Reports.spl.referenceDb + kSinePeakDb;
  report->pressure.push_back({static_cast<int32_t>(LinkRateHz(clock, divider)), reference + levels.aRmsDbfs,
                              reference + levels.cPeakDbfs});
  WarnAboveLimits(s, *report, report->pressure.back());
}

std::string SoundPressureMapPart(const CompileState& s) {
  const SplSettings& spl = s.Reports.spl;
  // A failed compile has no image to play: its map has no such table.
  const bool measured = std::any_of(s.Reports.sounds.begin(), s.Reports.sounds.end(),
                                    [](const SoundReport& r) { return !r.pressure.empty(); });
  if (!spl.given || !measured) return "";
  std::string limits;
  if (spl.laeqLimit) limits = Format("; limits LAeq %.1f", spl.laeqLimitDb);
  if (spl.lcpeakLimit) limits += Format(", LCpeak %.1f", spl.lcpeakLimitDb);
  std::string out = Format("Sound pressure (dB, predicted in the toy from --spl %.1f for a full-scale 1 kHz sine: "
                           "LAeq over the whole sound, LCpeak between samples too%s)\n", spl.referenceDb, limits.c_str());
  out += Format("  %-16s %11s %7s %7s\n", "name", "plays at", "LAeq", "LCpeak");
  for (const auto& sound : s.Names.sounds) {
    const SoundReport* report = FindSoundReport(s, sound->name);
    if (report == nullptr) continue;
    for (const SoundPressure& p : report->pressure) {
      const std::string above = AboveLimits(spl, p);
      out += Format("  %-16s %8d Hz %7s %7s%s%s\n", sound->name.c_str(), p.playedHz, Db(p.laeqDb).c_str(),
                    Db(p.lcpeakDb).c_str(), above.empty() ? "" : "  above the limit: ", above.c_str());
    }
  }
  return out + "\n";
}

std::string SoundPressureCell(const std::vector<SoundPressure>& levels, bool peak) {
  std::string cell;
  for (const SoundPressure& p : levels) {
    cell += (cell.empty() ? "" : ", ") + Db(peak ? p.lcpeakDb : p.laeqDb);
    if (levels.size() > 1) cell += Format(" at %d Hz", p.playedHz);
  }
  return cell;
}
