#include "fit_measure.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "ascii_case.h"
#include "file_system.h"
#include "audio/sound_import.h"
#include "audio/wave_input.h"
#include "compile_state.h"
#include "fit_spectrum.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "text_format.h"

namespace {

// The prepared samples where the preparation left them, through the meters.
bool MeterPrepared(const PreparationFiles& files, const PreparationRecord& record, LevelMeter* levels,
                   CodecMeter* codecs, CodecMeter* greedy, SoundSpectrum* spectrum) {
  if (std::fseek(files.prepared, static_cast<long>(record.offset), SEEK_SET) != 0) return false;
  const WaveHeader header{1, static_cast<uint32_t>(record.playedRate), 16, static_cast<int32_t>(record.frames * 2)};
  SampleReader reader;
  if (StartSamples(&reader, files.prepared, header) != ErrNone) return false;
  size_t n = 0;
  int r = ErrNone;
  while ((r = ReadSampleBlock(&reader, 1.0, &n)) == ErrNone && n > 0) {
    MeterBlock(levels, reader.samples.data(), n);
    MeterCodecs(codecs, reader.samples.data(), n, reader.done >= reader.frames);
    if (greedy != nullptr) MeterCodecs(greedy, reader.samples.data(), n, reader.done >= reader.frames);
    if (spectrum != nullptr) spectrum->Add(reader.samples.data(), n);
  }
  if (spectrum != nullptr) spectrum->Finish();
  return r == ErrNone;
}

}  // namespace

bool MeasureRate(const FitTake& take, int32_t played, int adpcmLevel, const PreparationFiles& files,
                 SoundSpectrum* spectrum, RateMeasure* out, std::string* reason) {
  const PreparationJob job{&take.options, take.file, KindPcm16, played, take.scale, "", adpcmLevel};
  PreparationRecord record;
  if (!PrepareSound(job, files, &record, reason)) return false;
  LevelMeter levels;
  CodecMeter meter(adpcmLevel);
  // Beside a search, the greedy encoder too: the model's figures come from that level (fit_estimate.h).
  std::unique_ptr<CodecMeter> greedy = adpcmLevel >= 2 ? std::make_unique<CodecMeter>(0) : nullptr;
  if (!MeterPrepared(files, record, &levels, &meter, greedy.get(), spectrum)) {
    *reason = "the prepared samples cannot be read back";
    return false;
  }
  out->played = record.playedRate;
  out->frames = record.frames;
  out->powerDb = LevelsOf(levels).rmsDbfs - record.gainDb;
  out->adpcmLevel = adpcmLevel;
  const std::vector<CodecCost> costs = CodecCostsOf(meter);
  for (const CodecCost& cost : costs) out->codecDb[CodecColumn(cost.kind)] = cost.snrDb;
  out->greedyAdpcmDb = greedy ? CodecCostsOf(*greedy)[CodecColumn(KindAdpcm)].snrDb : out->codecDb[CodecColumn(KindAdpcm)];
  return true;
}

namespace {

// A worker's prepared file is started over beyond this.
constexpr long kMostPreparedBytes = 64L << 20;

}  // namespace

FitScratch::~FitScratch() {
  for (Worker& w : workers_) Close(&w);
}

void FitScratch::Close(Worker* w) {
  if (w->files.stage != nullptr) DiscardScratch(w->files.stage, w->stageName);
  if (w->files.prepared != nullptr) DiscardScratch(w->files.prepared, w->preparedName);
  *w = {};
}

bool FitScratch::OpenWorker(Worker* w, std::string* reason) {
  w->files.stage = CreateScratchBeside(beside_, &w->stageName, reason);
  if (w->files.stage != nullptr) w->files.prepared = CreateScratchBeside(beside_, &w->preparedName, reason);
  return w->files.prepared != nullptr;
}

bool FitScratch::Open(const std::string& beside, size_t workers, std::string* reason) {
  beside_ = beside;
  workers_.resize(std::max<size_t>(1, workers));
  for (Worker& w : workers_) {
    if (!OpenWorker(&w, reason)) return false;
  }
  return true;
}

bool FitScratch::Trim(size_t worker, std::string* reason) {
  Worker& w = workers_[worker];
  if (std::fseek(w.files.prepared, 0, SEEK_END) == 0 && std::ftell(w.files.prepared) <= kMostPreparedBytes) return true;
  Close(&w);
  return OpenWorker(&w, reason);
}

double LostShare(double powerDb, double referenceDb) {
  if (!std::isfinite(referenceDb) || !std::isfinite(powerDb)) return 0.0;
  return std::max(0.0, 1.0 - std::pow(10.0, (powerDb - referenceDb) / 10.0));
}

double AgainstSource(double codecSnrDb, double lostShare) {
  const double noise = codecSnrDb == HUGE_VAL ? 0.0 : std::pow(10.0, -codecSnrDb / 10.0);
  const double total = noise + lostShare;
  if (!(total > 0)) return kLosslessDb;
  return std::clamp(-10.0 * std::log10(total), -kLosslessDb, kLosslessDb);
}

size_t CodecColumn(int32_t kind) {
  for (size_t i = 0; i < kFitCodecs; ++i) {
    if (kComparedCodecs[i] == kind) return i;
  }
  return 0;
}

namespace {

bool StoredWithCodec(int32_t kind) {
  return kind == KindAdpcm || kind == KindPcm8 || kind == KindPcm16 || kind == KindUlaw;
}

// The distinct rates the sound's links ask for, in script order.
std::vector<int32_t> LinkRates(const CompileState& s, const std::string& name) {
  std::vector<int32_t> rates;
  for (const LinkRecord& link : s.ScriptLinks) {
    if (EqualsNoCase(link.sound, name) && std::find(rates.begin(), rates.end(), link.rate) == rates.end()) {
      rates.push_back(link.rate);
    }
  }
  return rates;
}

std::string RatesText(const std::vector<int32_t>& rates) {
  std::string text;
  for (size_t i = 0; i < rates.size(); ++i) {
    text += Format("%s%d", i == 0 ? "" : i + 1 == rates.size() ? " and " : ", ", rates[i]);
  }
  return text + " Hz";
}

FitCandidates Fixed(const SoundDef& def, const std::string& why) {
  FitCandidates c;
  c.sound.name = def.name;
  c.sound.before = {def.kind, 0, 0, int64_t{def.end} - def.start + 1, 0};
  c.sound.options = {c.sound.before};
  c.sound.judged = false;
  c.sound.kept = why;
  return c;
}

FitCandidates Candidates(CompileState& s, const SoundDef& def) {
  auto it = s.Prep.records.find(AsciiLowerCopy(def.name));
  if (IsRampSound(def.name.c_str())) return Fixed(def, "a ramp: kept as it is");
  if (!StoredWithCodec(def.kind)) return Fixed(def, "its kind has no other codec");
  if (it == s.Prep.records.end() || !it->second.refusal.empty()) {
    return Fixed(def, "not measured: kept as it is");
  }
  const PreparationRecord& record = it->second;
  FitCandidates c;
  c.sound.name = def.name;
  c.take = {def.name, record.file, s.Prep.options, s.Scale, record.source.rate, AdpcmQualityOf(s, def.name)};
  std::string reason;
  auto own = s.Prep.own.find(AsciiLowerCopy(def.name));
  if (own != s.Prep.own.end() && !ApplySoundSettings(own->second, &c.take.options, &reason)) {
    return Fixed(def, "not measured: kept as it is");
  }
  const std::vector<int32_t> links = LinkRates(s, def.name);
  // Its bytes and SNR as it is stored now are measured with the rest.
  c.sound.before = {def.kind, links.size() == 1 ? links[0] : 0, record.playedRate, 0, 0};
  if (links.size() == 1) c.rates = FitRates(s.MainClk, record.source.rate);
  if (links.size() != 1 || c.rates.empty()) {
    c.rates = {{links.size() == 1 ? links[0] : 0, record.playedRate}};
    c.sound.kept = links.empty()      ? "rate kept: not linked"
                   : links.size() > 1 ? "rate kept: linked at " + RatesText(links)
                                      : Format("rate kept: the chip plays no rate up to its own %d Hz", record.source.rate);
  }
  return c;
}

}  // namespace

std::vector<FitCandidates> FitCandidatesOf(CompileState& read) {
  std::vector<FitCandidates> sounds;
  for (const auto& def : read.Names.sounds) {
    if (KindHasData(def->kind)) sounds.push_back(Candidates(read, *def));
  }
  return sounds;
}
