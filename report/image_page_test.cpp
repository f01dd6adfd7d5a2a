// The page: its players hold the extracted WAV bytes, names from a script cannot break it, and
// a page that cannot be written leaves nothing behind.

#include "image_page.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "dump_result.h"
#include "format_test_support.h"
#include "page_text.h"
#include "sound_extract.h"
#include "test_scratch.h"
#include "wav_output.h"

namespace {

constexpr int32_t kSize = 0x1000;

TEST(PageText, Base64AsRfc4648) {
  const std::pair<const char*, const char*> kRows[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFF\xFE", "//4="}};
  for (const auto& [text, expected] : kRows) {
    const std::string s = text;
    EXPECT_EQ(Base64(std::vector<uint8_t>(s.begin(), s.end())), expected) << text;
  }
  EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

class ImagePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = imagetest::BlankImage(kSize);
    base_ = imagetest::PutSections(image_, {{1, {{0x03, 31, 0, 3}, {0x04, 31, 8, 12}}}}, 1);
    imagetest::PutLe(image_, base_, 0x7FFF8000, 4);
    std::string problem;
    ASSERT_EQ(BuildImageMap(image_, DumpSettings{}, &map_, &problem), DumpOk) << problem;
  }
  std::vector<uint8_t> image_;
  int32_t base_ = 0;
  ImageMap map_;
};

TEST_F(ImagePageTest, PlayersHoldTheExtractedBytesAndEq01HasNone) {
  const std::string page = ImagePage(image_, map_, nullptr);
  const Sound& pcm16 = map_.sounds[0];
  const std::string uri =
      DataUri("audio/wav", ExtractedWavBytes(map_, pcm16, DecodeSound(image_, map_, pcm16)));
  EXPECT_NE(page.find("src=\"" + uri + "\""), std::string::npos);
  EXPECT_NE(page.find("no decoder for EQ01 codes"), std::string::npos);
  EXPECT_EQ(page.find("://"), std::string::npos) << "nothing may come from outside the page";
}

TEST_F(ImagePageTest, CompileNotesAreEscapedAndMatchedToTheirSound) {
  PageNotes notes;
  notes.script = "demo.qs";
  notes.sounds.push_back({KindPcm16, base_, 4, "<Beep>", "sounds/beep.wav", {"-1.0 dB"}});
  notes.extraColumns = {"gain"};
  notes.warnings.push_back({7, "rate & \"divider\"", "", ""});
  notes.players = [](const SoundNote& n) {
    PagePlayer source;
    source.what = "source";
    source.download = n.name + "-source.wav";
    source.rate = 8000;
    source.samples = {1, -2, 3};
    PagePlayer prepared;
    prepared.what = "prepared";
    prepared.missing = "not prepared";
    return std::vector<PagePlayer>{source, prepared};
  };
  const std::string page = ImagePage(image_, map_, &notes);
  EXPECT_NE(page.find("<h3>#1 &lt;Beep&gt;</h3>"), std::string::npos) << page;
  EXPECT_NE(page.find("<th scope=\"row\">gain</th><td>-1.0 dB</td>"), std::string::npos);
  EXPECT_NE(page.find("demo.qs:7</span>: rate &amp; &quot;divider&quot;"), std::string::npos);
  // The compile's player carries the samples it was given as a 16-bit WAV, named after the
  // sound as the chip's is; the dump's pages keep --extract's names.
  const std::vector<uint8_t> wav = WavBytes(WavFormat{8000, 16}, {1, -2, 3});
  EXPECT_NE(page.find("download=\"&lt;Beep&gt;-source.wav\""), std::string::npos);
  EXPECT_NE(page.find("data-wav=\"&lt;Beep&gt;-source.wav\" src=\"" + DataUri("audio/wav", wav) + "\""),
            std::string::npos);
  EXPECT_NE(page.find("download=\"&lt;Beep&gt;.wav\""), std::string::npos);
  EXPECT_NE(page.find("not prepared"), std::string::npos);
  EXPECT_NE(ImagePage(image_, map_, nullptr).find("download=\"" + WavName(map_.sounds[0]) + "\""),
            std::string::npos);
}

// The warnings lead the page, above the map, each about a sound linked to its card; a card has
// one badge for each kind of warning its sound has, however many of that kind there are.
TEST_F(ImagePageTest, TheWarningsLeadThePageAndBadgeTheirCards) {
  PageNotes notes;
  notes.script = "toy.qs";
  notes.sounds.push_back({KindPcm16, base_, 4, "hello", "hello.wav", {}});
  notes.warnings = {{2, "hello.wav has 3 samples clipped", "hello", "clipped"},
                    {2, "sound hello: a 50 Hz mains hum", "hello", "hum"},
                    {2, "sound hello: the limiter is heard", "hello", ""},
                    {2, "hello.wav: clipped again", "hello", "clipped"},
                    {0, "the image is 4096 bytes", "", ""},
                    {5, "sound gone: not in the image", "gone", "too quiet"}};
  const std::string page = ImagePage(image_, map_, &notes);
  const size_t warnings = page.find("<h2 id=\"warnings\">Warnings of the compile (6)</h2>");
  ASSERT_NE(warnings, std::string::npos);
  EXPECT_LT(warnings, page.find("<h2 id=\"map\">"));
  EXPECT_NE(page.find("<li><a href=\"#sound-1\">hello</a><span class=\"badge\">hum</span> <span "
                      "class=\"mono\">toy.qs:2</span>: sound hello: a 50 Hz mains hum</li>"), std::string::npos);
  EXPECT_NE(page.find("<li><a href=\"#sound-1\">hello</a> <span class=\"mono\">toy.qs:2</span>: sound hello: "
                      "the limiter is heard</li>"), std::string::npos);
  EXPECT_NE(page.find("<li><span class=\"mono\">toy.qs</span>: the image is 4096 bytes</li>"), std::string::npos);
  // A sound without a card is named in its text alone.
  EXPECT_NE(page.find("<li><span class=\"badge\">too quiet</span><span class=\"mono\">toy.qs:5</span>"),
            std::string::npos);
  EXPECT_NE(page.find("<h3>#1 hello<span class=\"badge\">clipped</span><span class=\"badge\">hum</span></h3>"),
            std::string::npos);
  const std::string failed = FailedCompilePage("toy.bin", notes, {"over by 12 bytes"}, "map");
  EXPECT_LT(failed.find("<h2 id=\"warnings\">"), failed.find("<h2 id=\"sounds\">"));
  EXPECT_NE(failed.find("<a href=\"#sound-1\">hello</a>"), std::string::npos);
  EXPECT_NE(failed.find("<h3>hello<span class=\"badge\">clipped</span><span class=\"badge\">hum</span></h3>"),
            std::string::npos);
}

TEST_F(ImagePageTest, AFailedCompileIsHeadedFailedWithItsLinesSoundsAndMap) {
  PageNotes notes;
  notes.sounds.push_back({KindAdpcm, 0, 10, "hello", "hello.wav", {}, 5});
  const std::string page = FailedCompilePage("toy.bin", notes, {"over by 12 <bytes>"}, "map & text");
  EXPECT_NE(page.find("FAILED: no image written"), std::string::npos);
  EXPECT_NE(page.find("<li>over by 12 &lt;bytes&gt;</li>"), std::string::npos);
  EXPECT_NE(page.find("<h3>hello</h3>"), std::string::npos);
  EXPECT_NE(page.find("<pre>map &amp; text</pre>"), std::string::npos);
}

TEST_F(ImagePageTest, APageThatCannotBeWrittenNamesTheFileAndLeavesNothing) {
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "page");
  std::filesystem::remove_all(dir);
  const std::string path = (dir / "missing" / "page.html").string();
  std::string problem;
  EXPECT_EQ(WriteImagePage(path, "<html>", &problem), DumpPageFailed);
  EXPECT_EQ(problem.rfind(path + ": ", 0), 0u) << problem;
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  const std::string good = (dir / "page.html").string();
  std::filesystem::create_directories(dir);
  ASSERT_EQ(WriteImagePage(good, "<html>", &problem), DumpOk) << problem;
  EXPECT_EQ(std::filesystem::file_size(good), 6u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

}  // namespace
