// The option and configuration blocks read back: the .GLOBAL values out of blocks that the
// format's own BuildOptionBlock packed, every configuration field out of blocks that its
// StoreCfgMemField wrote, and the choice between the two blocks by byte 33.

#include "option_decode.h"

#include <gtest/gtest.h>

#include <memory>

#include "cfgmem_fields.h"
#include "format_test_support.h"
#include "image_layout.h"
#include "option_block.h"

namespace {

constexpr int32_t kSize = 0x1000;

ImageLayout Layout() {
  ImageLayout l;
  l.fileSize = kSize;
  l.optionBase = OptionBase(kSize);
  l.optionStart = OptionStart(kSize);
  l.volMapPos = VolMapPos(kSize);
  return l;
}

const NamedValue* Find(const std::vector<NamedValue>& values, const std::string& name) {
  for (const NamedValue& v : values) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

uint32_t Global(const OptionInfo& info, const std::string& name) {
  const NamedValue* v = Find(info.globals, name);
  EXPECT_NE(v, nullptr) << name;
  return v != nullptr ? v->value : 0;
}

struct GlobalsCase {
  int32_t wakeupDly, funcCode, srcSpd, ioCfg, dbckUi, dbckSi, secNum, volCfg, rampCfg, miscOpt,
      output;
  const char* secNumNote;
};

const GlobalsCase kGlobalsCases[] = {
    {0x40, 0x123, 2, 0xC5, 3, 0xA, 16, 0x3456, 0x81, 0x5A, 0x1234, "SecNum 16"},
    {-1, -1, -1, -1, -1, -1, 3, -1, -1, -1, -1, "SecNum 3"},
    {0xF8, 0x7FF, 0, 0, 0, 0, 4, 0, 0, 0, 0, "SecNum 4"},
};

TEST(OptionBlock, GlobalValuesComeBackFromTheGeneratorsPacking) {
  for (const GlobalsCase& c : kGlobalsCases) {
    auto state = std::make_unique<OptionValues>();
    state->WakeupDly = c.wakeupDly, state->FuncCode = c.funcCode, state->SrcSpd = c.srcSpd;
    state->IO_Cfg = c.ioCfg, state->DbckUi = c.dbckUi, state->DbckSi = c.dbckSi;
    state->SecNum = c.secNum, state->Vol_Cfg = c.volCfg, state->Ramp_Cfg = c.rampCfg;
    state->MiscOpt = c.miscOpt, state->Output = c.output;
    std::vector<uint8_t> image = imagetest::BlankImage(kSize);
    const auto block = BuildOptionBlock(*state);
    std::copy(block.begin(), block.end(), image.begin() + OptionStart(kSize));
    const OptionInfo info = DecodeOptions(ImageBytes(image), Layout());
    ASSERT_FALSE(info.configBlock);
    EXPECT_TRUE(info.fixedBitsOk);
    EXPECT_EQ(Global(info, "$WAKEUPDLY"), static_cast<uint32_t>(c.wakeupDly) & 0xF8);
    EXPECT_EQ(Global(info, "$FUNCCODE"), static_cast<uint32_t>(c.funcCode) & 0x7FF);
    EXPECT_EQ(Global(info, "$SRCSPD"), static_cast<uint32_t>(c.srcSpd) & 3);
    EXPECT_EQ(Global(info, "$IO_CFG"), static_cast<uint32_t>(c.ioCfg) & 0xFF);
    EXPECT_EQ(Global(info, "$DBCKUI"), static_cast<uint32_t>(c.dbckUi) & 0xF);
    EXPECT_EQ(Global(info, "$DBCKSI"), static_cast<uint32_t>(c.dbckSi) & 0xF);
    EXPECT_EQ(Global(info, "$VOL_CFG"), static_cast<uint32_t>(c.volCfg) & 0xFFFF);
    EXPECT_EQ(Global(info, "$RAMP_CFG"), static_cast<uint32_t>(c.rampCfg) & 0xFF);
    EXPECT_EQ(Global(info, "$MISCOPT"), static_cast<uint32_t>(c.miscOpt) & 0xFF);
    EXPECT_EQ(Global(info, "$OUTPUT"), static_cast<uint32_t>(c.output) & 0xFFFF);
    EXPECT_EQ(info.globals[6].note, c.secNumNote);
  }
}

TEST(OptionBlock, BrokenRepeatsAreNoticed) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  image[static_cast<size_t>(OptionStart(kSize))] = 0x1F;  // FuncCode bits 0-2 differ from byte 3
  EXPECT_FALSE(DecodeOptions(ImageBytes(image), Layout()).fixedBitsOk);
}

// Each field at its lowest and its highest value, stored by the generator into a fresh
// configuration block, must come back alone and unchanged.
TEST(ConfigBlock, EveryFieldComesBackAsStored) {
  for (const CfgMemField& field : CfgMemFieldTable()) {
    if (field.encoding == CfgMemEncoding::Constant) continue;
    for (uint32_t value : {field.min, field.max}) {
      std::vector<uint8_t> image = imagetest::BlankImage(kSize);
      uint8_t* block = image.data() + OptionBase(kSize);
      block[kCfgMemSlaveByte] = kCfgMemSlaveMark;
      StoreCfgMemField(field, value, block);
      const OptionInfo info = DecodeOptions(ImageBytes(image), Layout());
      ASSERT_TRUE(info.configBlock);
      ASSERT_EQ(info.fields.size(), static_cast<size_t>(kCfgMemFieldCount));
      const NamedValue* found = Find(info.fields, field.name);
      ASSERT_NE(found, nullptr) << field.name;
      EXPECT_TRUE(found->valid) << field.name;
      EXPECT_EQ(found->value, value) << field.name;
    }
  }
}

struct BlockChoice {
  uint8_t byte33;
  bool config;
  bool slaveValid;
  const char* note;
};

const BlockChoice kChoices[] = {
    {0xFF, false, false, ""},
    {0x5A, true, true, "not a slave"},
    {0x00, true, true, "slave"},
    {0x12, true, false, ""},
};

TEST(ConfigBlock, ByteThirtyThreeTellsTheBlocksApart) {
  for (const BlockChoice& c : kChoices) {
    std::vector<uint8_t> image = imagetest::BlankImage(kSize);
    image[static_cast<size_t>(OptionBase(kSize) + kCfgMemSlaveByte)] = c.byte33;
    const OptionInfo info = DecodeOptions(ImageBytes(image), Layout());
    EXPECT_EQ(info.configBlock, c.config) << int{c.byte33};
    if (!c.config) {
      EXPECT_EQ(info.bytes.size(), 16u);
      continue;
    }
    EXPECT_EQ(info.bytes.size(), 48u);
    const NamedValue* slave = Find(info.fields, "Slave");
    ASSERT_NE(slave, nullptr);
    EXPECT_EQ(slave->valid, c.slaveValid);
    EXPECT_EQ(slave->note, c.note);
  }
}

TEST(VolumeMap, HasMaxVolPlusOneEntries) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  image[static_cast<size_t>(OptionStart(kSize) + 11)] = 0x34;  // MaxVol 3
  const int32_t map = VolMapPos(kSize);
  for (int i = 0; i < 4; ++i) image[static_cast<size_t>(map + i)] = static_cast<uint8_t>(0x10 * i);
  VolumeMap v = DecodeVolumeMap(ImageBytes(image), Layout());
  EXPECT_EQ(v.count, 4);
  EXPECT_EQ(v.entries, (std::vector<uint8_t>{0x00, 0x10, 0x20, 0x30}));
  EXPECT_TRUE(v.restBlank);
  image[static_cast<size_t>(map + 4)] = 0x80;
  EXPECT_FALSE(DecodeVolumeMap(ImageBytes(image), Layout()).restBlank);
}

}  // namespace
