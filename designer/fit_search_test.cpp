#include "fit_search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "fit_estimate.h"
#include "fit_spectrum.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

constexpr uint32_t kRate = 22050;
constexpr uint32_t kFrames = 8820;  // 0.4 s

std::vector<std::vector<int32_t>> Sounds() {
  using testwav::Shape;
  return {
      testwav::MakeSamples({.shape = Shape::Sweep, .freq = 200, .freqEnd = 9000, .amplitude = 0.4}, kFrames, kRate),
      testwav::MakeSamples({.shape = Shape::Noise, .amplitude = 0.1, .seed = 9}, kFrames, kRate),
      testwav::MakeSamples({.shape = Shape::Sine, .freq = 700, .amplitude = 0.3}, kFrames, kRate),
      testwav::MakeSamples({.shape = Shape::Sweep, .freq = 3000, .freqEnd = 300, .amplitude = 0.2}, kFrames, kRate),
  };
}

class FitSearch : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, testing::UnitTest::GetInstance()->current_test_info()->name());
    const std::vector<std::vector<int32_t>> sounds = Sounds();
    for (size_t i = 0; i < sounds.size(); ++i) {
      const std::string path = (dir / ("s" + std::to_string(i) + ".wav")).string();
      ASSERT_TRUE(testwav::WriteFile(path, testwav::EncodeWav(sounds[i], {.rate = kRate})));
      FitCandidates c;
      c.sound.name = "s" + std::to_string(i);
      c.take = {c.sound.name, path, {}, 1.0, kRate, 0};
      c.take.options.resample = true;
      c.rates = FitRates(512000, kRate);
      c.sound.before = {KindAdpcm, 16000, 16000, 0, 0};
      candidates.push_back(c);
    }
    for (auto& f : files) f = {std::tmpfile(), std::tmpfile()};
  }
  void TearDown() override {
    for (auto& f : files) {
      if (f.stage != nullptr) std::fclose(f.stage);
      if (f.prepared != nullptr) std::fclose(f.prepared);
    }
  }

  FitMeasurer Measurer() {
    return [this](size_t worker, const FitJob& job, SoundSpectrum* spectrum, RateMeasure* out, std::string* why) {
      return MeasureRate(candidates[job.sound].take, job.played, job.adpcmLevel, files[worker], spectrum, out, why);
    };
  }

  // Every option of every sound measured: what the search must come to without measuring them all.
  std::vector<FitSound> Everything() {
    std::vector<FitSound> sounds;
    std::string why;
    for (const FitCandidates& c : candidates) {
      RateMeasure reference;
      EXPECT_TRUE(MeasureRate(c.take, kRate, 0, files[0], nullptr, &reference, &why)) << why;
      FitSound sound = c.sound;
      for (const FitRate& rate : c.rates) {
        RateMeasure m;
        EXPECT_TRUE(MeasureRate(c.take, rate.played, 0, files[0], nullptr, &m, &why)) << why;
        for (size_t codec = 0; codec < kFitCodecs; ++codec) {
          const int32_t kind = kComparedCodecs[codec];
          sound.options.push_back({kind, rate.link, rate.played, KindBytesOf(kind, m.frames),
                                   MeasuredSnrDb(m, codec, reference.powerDb)});
        }
      }
      sounds.push_back(sound);
    }
    return sounds;
  }

  std::filesystem::path dir;
  std::vector<FitCandidates> candidates;
  PreparationFiles files[2] = {};
};

struct Taken {
  int32_t kind, played;
  bool operator==(const Taken&) const = default;
};

std::vector<Taken> TakenOf(const std::vector<FitSound>& sounds, const FitChoice& choice) {
  std::vector<Taken> taken;
  for (size_t i = 0; i < sounds.size(); ++i) {
    const FitOption& o = sounds[i].options[choice.chosen[i]];
    taken.push_back({o.kind, o.playedRate});
  }
  return taken;
}

// Tight rooms, where the worst sound decides, to loose ones, where the sum does; the rate each
// sound is linked at now, and one worker or two, change nothing of the choice, nor of what the
// table's last line says limits it.
TEST_F(FitSearch, ChoosesWhatMeasuringEveryOptionChooses) {
  const std::vector<FitSound> every = Everything();
  struct Run {
    int64_t room;
    int32_t before;
    size_t workers;
  };
  const Run runs[] = {{6000, 16000, 1}, {6000, 22261, 2}, {11000, 8000, 1}, {20000, 16000, 2},
                      {20000, 22261, 1}, {45000, 8000, 1}};
  for (const auto& [room, before, workers] : runs) {
    const FitChoice best = ChooseFit(every, room);
    ASSERT_TRUE(best.fits) << room;
    SCOPED_TRACE(testing::Message() << "room " << room << ", linked at " << before << ", " << workers << " workers");
    for (FitCandidates& c : candidates) c.sound.before = {KindAdpcm, before, before, 0, 0};
    const FitSearchResult found = SearchFit(candidates, room, workers, Measurer());
    ASSERT_TRUE(found.unprepared.empty()) << found.unprepared;
    ASSERT_TRUE(found.choice.fits);
    EXPECT_EQ(found.choice.worstDb, best.worstDb);
    EXPECT_NEAR(found.choice.totalDb, best.totalDb, 1e-9);
    EXPECT_EQ(TakenOf(found.sounds, found.choice), TakenOf(every, best));
    EXPECT_EQ(found.choice.limit, best.limit);
    // It measured far fewer than every option.
    EXPECT_LT(found.stats.measures, static_cast<int>(candidates.size() * candidates[0].rates.size()) / 4);
  }
}

// What the script stores now is measured as it is, for the table, whatever the choice.
TEST_F(FitSearch, TheWayItIsStoredNowIsMeasured) {
  for (FitCandidates& c : candidates) c.sound.before = {KindPcm8, 11025, 11130, 0, 0};
  const FitSearchResult found = SearchFit(candidates, 20000, 1, Measurer());
  ASSERT_TRUE(found.choice.fits);
  std::string why;
  for (size_t i = 0; i < found.sounds.size(); ++i) {
    RateMeasure reference, before;
    ASSERT_TRUE(MeasureRate(candidates[i].take, kRate, 0, files[0], nullptr, &reference, &why)) << why;
    ASSERT_TRUE(MeasureRate(candidates[i].take, 11130, 0, files[0], nullptr, &before, &why)) << why;
    EXPECT_EQ(found.sounds[i].before.bytes, 11130 * kFrames / kRate) << i;
    EXPECT_EQ(found.sounds[i].before.snrDb, MeasuredSnrDb(before, CodecColumn(KindPcm8), reference.powerDb)) << i;
  }
}

TEST_F(FitSearch, ASoundThatCannotBePreparedStopsIt) {
  candidates[2].take.file = (dir / "missing.wav").string();
  const FitSearchResult found = SearchFit(candidates, 20000, 2, Measurer());
  EXPECT_NE(found.unprepared.find("sound s2 ("), std::string::npos) << found.unprepared;
  EXPECT_FALSE(found.choice.fits);
}

}  // namespace
