#include "dump_command.h"
#include "image_map.h"

#include "json_writer.h"
#include "section_entry.h"
#include "sound_extract.h"
#include "sound_list.h"

namespace {

void Rate(JsonWriter* j, const ImageMap& map, uint8_t divider) {
  j->Int("divider", divider);
  j->Number("rate_hz", LinkRate(map.settings.mainClockHz, divider));
}

void Layout(JsonWriter* j, const ImageMap& map) {
  const ImageLayout& l = map.layout;
  j->BeginObject("layout");
  j->Int("file_size", l.fileSize);
  j->Int("grpadr", map.grpAdr);
  j->Bool("grpadr_detected", map.grpAdrDetected);
  j->Int("offset", map.offset);
  j->Bool("offset_detected", map.offsetDetected);
  j->Int("main_clock_hz", map.settings.mainClockHz);
  j->Int("group_start", map.groupStart);
  j->Int("section_slots", map.slotCount);
  j->Int("sound_base", map.soundBase);
  j->Int("system_area_start", l.systemAreaStart);
  j->Int("adpcm_start", l.adpcmStart);
  j->Int("tag_pos", l.tagPos);
  j->Int("option_base", l.optionBase);
  j->Int("option_start", l.optionStart);
  j->Int("vol_map_pos", l.volMapPos);
  j->EndObject();
}

void HeaderWordJson(JsonWriter* j, const ImageMap& map, const char* key, const HeaderWord& w) {
  j->BeginObject(key);
  j->Int("pos", w.pos);
  j->Int("word", w.word);
  j->Bool("ramp", w.isRamp);
  if (w.isRamp)
    j->Int("ramp_position", w.rampPosition);
  else
    j->Null("ramp_position");
  Rate(j, map, w.divider);
  j->EndObject();
}

void Header(JsonWriter* j, const ImageMap& map) {
  j->BeginObject("header");
  j->Int("word0", map.headerWord0);
  j->Int("section0_entry", map.section0Entry);
  HeaderWordJson(j, map, "ramp_dec", map.rampDec);
  HeaderWordJson(j, map, "ramp_inc", map.rampInc);
  j->EndObject();
}

void Link(JsonWriter* j, const ImageMap& map, const GroupLink& link) {
  j->BeginObject();
  j->Int("pos", link.filePos);
  j->Int("type_byte", link.typeByte);
  j->String("kind", KindName(link.kind));
  Rate(j, map, link.divider);
  j->Int("start", link.start);
  j->Int("end", link.end);
  j->Int("stored_start", link.rawStart);
  j->Int("stored_end", link.rawEnd);
  j->Int("length", link.length);
  j->Bool("flag", link.flag);
  j->Bool("last", link.last);
  j->Int("sound", link.soundId);
  j->EndObject();
}

void Sections(JsonWriter* j, const ImageMap& map) {
  j->BeginArray("sections");
  for (const Section& s : map.sections) {
    j->BeginObject();
    j->Int("number", s.number);
    j->Int("entry_pos", s.entryPos);
    j->Int("entry", s.entry);
    j->Bool("edge", SectionHasFlag(s.flags, kSectionEdgeBit));
    j->Bool("hold", SectionHasFlag(s.flags, kSectionHoldBit));
    j->Bool("retrigger", SectionHasFlag(s.flags, kSectionRetriggerBit));
    j->Bool("stop_enable", SectionHasFlag(s.flags, kSectionStopEnableBit));
    if (s.option < 0)
      j->Null("option");
    else
      j->Int("option", s.option);
    j->Int("group_table", s.tableAddress);
    j->Int("link_count", static_cast<int64_t>(s.links.size()));
    j->BeginArray("links");
    for (const GroupLink& link : s.links) Link(j, map, link);
    j->EndArray();
    j->EndObject();
  }
  j->EndArray();
}

void Sounds(JsonWriter* j, const ImageMap& map) {
  j->BeginArray("sounds");
  for (const Sound& s : map.sounds) {
    j->BeginObject();
    j->Int("id", s.id);
    if (!s.name.empty()) j->String("name", s.name);  // with --names only
    j->String("kind", KindName(s.kind));
    j->Int("start", s.start);
    j->Int("end", s.end);
    if (KindHasData(s.kind->kind))
      j->Int("file_pos", s.filePos);
    else
      j->Null("file_pos");
    j->Int("length", s.length);
    j->Int("samples", KindSamplesIn(*s.kind, s.length));
    Rate(j, map, s.divider);
    j->Int("link_count", s.linkCount);
    j->Bool("mixed_dividers", s.mixedDividers);
    if (CanExtract(s))
      j->String("wav", WavName(s));
    else
      j->Null("wav");
    j->EndObject();
  }
  j->EndArray();
}

void Free(JsonWriter* j, const ImageMap& map) {
  j->BeginArray("free");
  for (const FreeRange& f : map.freeRanges) {
    j->BeginObject();
    j->Int("start", f.start);
    j->Int("end", f.end);
    j->Int("length", f.end - f.start + 1);
    j->Int("not_blank", f.used);
    j->EndObject();
  }
  j->EndArray();
}

void Values(JsonWriter* j, const char* key, const std::vector<NamedValue>& values) {
  j->BeginArray(key);
  for (const NamedValue& v : values) {
    j->BeginObject();
    j->String("name", v.name);
    j->String("where", v.where);
    j->Int("value", v.value);
    j->Bool("valid", v.valid);
    if (!v.note.empty()) j->String("note", v.note);
    j->EndObject();
  }
  j->EndArray();
}

void Bytes(JsonWriter* j, const char* key, const std::vector<uint8_t>& bytes) {
  j->BeginArray(key);
  for (uint8_t b : bytes) j->Int({}, b);
  j->EndArray();
}

void Options(JsonWriter* j, const ImageMap& map) {
  const OptionInfo& o = map.options;
  j->BeginObject(o.configBlock ? "config_block" : "option_block");
  j->Int("pos", o.configBlock ? map.layout.optionBase : map.layout.optionStart);
  Bytes(j, "bytes", o.bytes);
  if (!o.configBlock) {
    j->Bool("fixed_bits_ok", o.fixedBitsOk);
    Values(j, "globals", o.globals);
  }
  Values(j, "fields", o.fields);
  j->EndObject();
}

void Volume(JsonWriter* j, const ImageMap& map) {
  const VolumeMap& v = map.volumeMap;
  j->BeginObject("volume_map");
  j->Int("pos", v.pos);
  j->Int("count", v.count);
  Bytes(j, "entries", v.entries);
  j->Bool("rest_blank", v.restBlank);
  j->EndObject();
}

void SystemArea(JsonWriter* j, const ImageMap& map) {
  const SystemAreaVerdict& v = map.systemArea;
  j->BeginObject("system_area");
  j->Bool("tag_ok", v.tagOk);
  j->Bool("ulaw_table_ok", v.ulawTableOk);
  j->Bool("step_table_ok", v.stepTableOk);
  j->Bool("chip_size", v.chipSize);
  j->Bool("check_passes", v.checkPasses);
  j->Int("masked_count", v.maskedCount);
  j->BeginArray("programmed_masked");
  for (const MaskedByte& b : v.programmedMasked) {
    j->BeginObject();
    j->Int("distance", b.distance);
    j->Int("pos", b.pos);
    j->Int("image", b.image);
    j->EndObject();
  }
  j->EndArray();
  // Only present when a write would clear a factory bit.
  if (v.clearsFactoryCell) {
    j->BeginObject("factory_cell");
    j->Int("distance", v.factoryCell.distance);
    j->Int("pos", v.factoryCell.pos);
    j->Int("image", v.factoryCell.image);
    j->Int("factory_bits", v.factoryBits);
    j->EndObject();
  }
  j->EndObject();
}

}  // namespace

std::string JsonReport(const ImageMap& map) {
  JsonWriter j;
  j.BeginObject();
  j.String("file", map.path);
  j.Int("size", map.layout.fileSize);
  j.String("sha256", map.sha256);
  Layout(&j, map);
  Header(&j, map);
  j.Bool("no_sections", map.noSections);
  Sections(&j, map);
  Sounds(&j, map);
  Free(&j, map);
  Options(&j, map);
  Volume(&j, map);
  SystemArea(&j, map);
  j.EndObject();
  return j.Text();
}
