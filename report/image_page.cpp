#include "image_page.h"

#include <algorithm>

#include "dump_result.h"
#include "output_writer.h"
#include "memory_map_svg.h"
#include "page_text.h"
#include "sound_extract.h"
#include "sound_list.h"
#include "text_report.h"
#include "waveform.h"

namespace {

using ll = long long;

constexpr int kWaveWidth = 240;
constexpr int kWaveHeight = 48;
// A silence plays as zeros; past a few seconds' worth it only makes the page heavier.
constexpr int64_t kMaxPageSilence = int64_t{1} << 20;

// System fonts, colours of at least 4.5:1 on white, blocks that keep their colours on paper.
constexpr char kStyle[] = R"(<style>
:root{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:#1a1a1a;background:#fff}
body{margin:1.5rem;max-width:80rem}
h1{font-size:1.5rem}h2{font-size:1.2rem;margin-top:2rem;border-bottom:1px solid #767676}
table{border-collapse:collapse;font-size:.875rem}
th,td{border:1px solid #a0a0a0;padding:.2rem .4rem;text-align:left;vertical-align:middle;white-space:nowrap}
td.wrap{white-space:normal}
td.n{text-align:right;font-variant-numeric:tabular-nums}
code,pre,.mono{font-family:ui-monospace,"Cascadia Mono","DejaVu Sans Mono",Menlo,Consolas,monospace}
pre{font-size:.8rem;background:#f4f4f4;padding:.5rem;overflow-x:auto}
#memory-map{width:100%;height:auto;max-height:40rem;border:1px solid #767676}
#memory-map .block{stroke:#fff;stroke-width:.3}
#memory-map .block:hover,#memory-map .block:focus,#memory-map a:focus .block{stroke:#000;stroke-width:2;outline:none}
.header{fill:#5a3d8a}.sections{fill:#8a3d6e}.groups{fill:#b04a4a}.system{fill:#4d4d4d}
.free{fill:#e8e8e8}.adpcm{fill:#1f6fb2}.ulaw{fill:#2e7d32}.pcm8{fill:#b26a00}.pcm16{fill:#a03d00}
.eq01{fill:#6d5f00}
.legend span{display:inline-block;margin-right:1rem}.legend svg{vertical-align:middle}
svg.wave{background:#f8f8f8}svg.wave path{stroke:#1f6fb2;stroke-width:1}svg.wave .axis{stroke:#a0a0a0}
tr:target{outline:3px solid #b26a00}
.warn{color:#8a1c00}
@media print{body{margin:0}audio,#map-detail{display:none}#memory-map{max-height:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}tr{break-inside:avoid}}
</style>)";

// The only script: the details of the block under the pointer or the focus, in words.
constexpr char kScript[] = R"(<script>
(function(){var d=document.getElementById('map-detail'),m=document.getElementById('memory-map');
if(!d||!m)return;d.hidden=false;function show(e){var b=e.target.closest('.block')||
(e.target.querySelector&&e.target.querySelector('.block'));if(b)d.textContent=b.getAttribute('data-detail');}
m.addEventListener('mouseover',show);m.addEventListener('focusin',show);})();
</script>)";

std::string Cell(const std::string& text, bool number = false) {
  return (number ? "<td class=\"n\">" : "<td>") + HtmlEscape(text) + "</td>";
}

std::string Heads(const std::vector<std::string>& heads) {
  std::string row = "<tr>";
  for (const std::string& h : heads) row += "<th scope=\"col\">" + HtmlEscape(h) + "</th>";
  return row + "</tr>";
}

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of("/\\") == std::string::npos ? 0
                                                                    : path.find_last_of("/\\") + 1);
}

// Bytes of the sound data area that no sound takes.
int64_t FreeBytes(const ImageMap& map) {
  int64_t free = 0;
  for (const FreeRange& f : map.freeRanges) free += f.end - f.start + 1;
  return free;
}

std::string Summary(const ImageMap& map) {
  const ImageLayout& l = map.layout;
  const int64_t area = std::max<int64_t>(l.systemAreaStart - SoundDataStart(map), 0);
  const int64_t free = FreeBytes(map);
  const double full = area > 0 ? 100.0 * static_cast<double>(area - free) / area : 100.0;
  std::string out = "<table class=\"summary\">";
  out += "<tr><th scope=\"row\">Image</th>" + Cell(map.path) + "</tr>";
  out += "<tr><th scope=\"row\">Size</th>" +
         Cell(Format("%d bytes (0x%X)", l.fileSize, static_cast<unsigned>(l.fileSize))) + "</tr>";
  out += "<tr><th scope=\"row\">SHA-256</th><td class=\"mono\" id=\"sha256\">" +
         HtmlEscape(map.sha256) + "</td></tr>";
  out += "<tr><th scope=\"row\">Sound data area</th>" +
         Cell(Format("%lld bytes, %lld free, %.1f%% full", static_cast<ll>(area),
                     static_cast<ll>(free), full)) +
         "</tr>";
  out += "<tr><th scope=\"row\">Sounds</th>" +
         Cell(Format("%d distinct", static_cast<int>(map.sounds.size()))) + "</tr>";
  return out + "</table>";
}

std::string Legend() {
  static const char* const kKinds[][2] = {
      {"header", "header"},   {"sections", "section entries"}, {"groups", "group tables"},
      {"adpcm", "ADPCM"},     {"ulaw", "u-law"},               {"pcm8", "PCM8"},
      {"pcm16", "PCM16"},     {"eq01", "EQ01"},                {"free", "free"},
      {"system", "system area"}};
  std::string out = "<p class=\"legend\">";
  for (const auto& k : kKinds) {
    out += Format("<span><svg width=\"14\" height=\"14\" aria-hidden=\"true\"><rect class=\"%s\" "
                  "width=\"14\" height=\"14\"/></svg> %s</span>",
                  k[0], k[1]);
  }
  return out + "</p>";
}

std::string MapPart(const ImageMap& map) {
  return "<h2 id=\"map\">Memory map</h2>" + Legend() + MemoryMapSvg(map) +
         "<p id=\"map-detail\" class=\"mono\" aria-live=\"polite\" hidden>Point at a block, or "
         "focus it, for its address range and size.</p>"
         "<p>Each block's title gives its address range and size; a sound's block leads to its "
         "row below.</p>";
}

// Names the script links in a section, in the order of its group table.
std::vector<std::string> LinkNames(const PageNotes* notes, int section) {
  std::vector<std::string> names;
  if (notes == nullptr) return names;
  for (const LinkNote& l : notes->links) {
    if (l.section == section) names.push_back(l.sound);
  }
  return names;
}

std::string LinkRow(const ImageMap& map, const Section& s, size_t k,
                    const std::vector<std::string>& names) {
  const GroupLink& link = s.links[k];
  std::string row = "<tr>";
  if (k == 0) {
    row += Format("<td rowspan=\"%d\">[%d]</td>", static_cast<int>(s.links.size()), s.number);
    row += Format("<td class=\"wrap\" rowspan=\"%d\">", static_cast<int>(s.links.size())) +
           HtmlEscape(SectionFlagsText(s)) + "</td>";
  }
  row += Cell(Format("%d", static_cast<int>(k)), true);
  if (!names.empty()) row += Cell(k < names.size() ? names[k] : "");
  row += Cell(KindName(link.kind)) + Cell(RateText(map, link.divider));
  row += Cell(RangeText(link.start, link.end)) + Cell(link.flag ? "1" : "0", true);
  row += Format("<td><a href=\"#sound-%d\">#%d</a></td>", link.soundId, link.soundId);
  return row + "</tr>";
}

std::string SectionsPart(const ImageMap& map, const PageNotes* notes) {
  std::string out = "<h2 id=\"sections\">Sections and links</h2>";
  if (map.noSections) return out + "<p>None: no entry holds a section with links.</p>";
  bool named = false;
  for (const Section& s : map.sections) named = named || !LinkNames(notes, s.number).empty();
  std::vector<std::string> heads = {"section", "flags", "link"};
  if (named) heads.push_back("script name");
  heads.insert(heads.end(), {"kind", "rate", "chip addresses", "flag", "sound"});
  out += "<table>" + Heads(heads);
  for (const Section& s : map.sections) {
    std::vector<std::string> names = LinkNames(notes, s.number);
    if (named && names.empty()) names.push_back("");
    for (size_t k = 0; k < s.links.size(); ++k) out += LinkRow(map, s, k, names);
  }
  return out + "</table>";
}

// The compile's notes on a sound, or null.
const SoundNote* NoteFor(const PageNotes* notes, const Sound& sound) {
  if (notes == nullptr) return nullptr;
  const bool data = KindHasData(sound.kind->kind);
  for (const SoundNote& n : notes->sounds) {
    if (n.kind != sound.kind->kind) continue;
    if (data ? n.chipStart == sound.start : n.samples == sound.length) return &n;
  }
  return nullptr;
}

// The player's cell, appended in place: its data URI is most of the page's bytes.
void AppendPlayerCell(const ImageMap& map, const Sound& sound, const std::vector<int32_t>& samples,
                      const std::string& label, std::string* out) {
  if (!CanExtract(sound)) {
    *out += "<td>no decoder for EQ01 codes</td>";
  } else if (!KindHasData(sound.kind->kind) && sound.length > kMaxPageSilence) {
    *out += Cell(Format("%lld samples of silence", static_cast<ll>(sound.length)));
  } else {
    *out += Format("<td><audio controls preload=\"none\" aria-label=\"Play %s\" data-wav=\"%s\" "
                   "src=\"",
                   HtmlEscape(label).c_str(), HtmlEscape(WavName(sound)).c_str());
    *out += DataUri("audio/wav", ExtractedWavBytes(map, sound, samples));
    *out += "\"></audio></td>";
  }
}

std::string SoundAddresses(const Sound& s) {
  return KindHasData(s.kind->kind) ? RangeText(s.filePos, s.filePos + s.length - 1) : "(no data)";
}

void AppendSoundRow(const std::vector<uint8_t>& image, const ImageMap& map, const Sound& s,
                    const PageNotes* notes, std::string* out) {
  const SoundNote* note = NoteFor(notes, s);
  const int64_t samples = KindSamplesIn(*s.kind, s.length);
  const double rate = LinkRate(map.settings.mainClockHz, s.divider);
  const std::string label = Format("sound #%d", s.id) + (note ? " " + note->name : "");
  std::vector<int32_t> decoded;
  if (CanExtract(s) && (KindHasData(s.kind->kind) || s.length <= kMaxPageSilence))
    decoded = DecodeSound(image, map, s);
  std::string row = Format("<tr id=\"sound-%d\"><td>#%d</td>", s.id, s.id);
  if (notes != nullptr) {
    const bool file = note != nullptr && KindHasData(s.kind->kind);
    row += Cell(note ? note->name : "") + Cell(file ? BaseName(note->waveFile) : "-");
  }
  row += Cell(KindName(s.kind)) + Cell(SoundAddresses(s));
  row += Cell(Format("%lld", static_cast<ll>(KindHasData(s.kind->kind) ? s.length : 0)), true);
  row += Cell(Format("%lld", static_cast<ll>(samples)), true);
  row += Cell(Format("%.3f s", rate > 0 ? samples / rate : 0.0), true);
  if (notes != nullptr) {
    for (size_t c = 0; c < notes->extraColumns.size(); ++c)
      row += Cell(note && c < note->extra.size() ? note->extra[c] : "");
  }
  row += decoded.empty() ? Cell("")
                         : "<td>" + WaveformSvg(DecimateMinMax(decoded, kWaveWidth), kWaveWidth,
                                                kWaveHeight, "Waveform of " + label) +
                               "</td>";
  *out += row;
  AppendPlayerCell(map, s, decoded, label, out);
  *out += "</tr>";
}

std::string SoundsPart(const std::vector<uint8_t>& image, const ImageMap& map,
                       const PageNotes* notes) {
  std::vector<std::string> heads = {"#"};
  if (notes != nullptr) heads.insert(heads.end(), {"name", "wave file"});
  heads.insert(heads.end(), {"kind", "file positions", "bytes", "samples", "duration"});
  if (notes != nullptr)
    heads.insert(heads.end(), notes->extraColumns.begin(), notes->extraColumns.end());
  heads.insert(heads.end(), {"waveform", "as the chip plays it"});
  std::string out = "<h2 id=\"sounds\">Sounds</h2><table id=\"sound-table\">" + Heads(heads);
  for (const Sound& s : map.sounds) AppendSoundRow(image, map, s, notes, &out);
  // The clock is not in the image: qs71gen's is the script's $MAINCLK, qs71dump's its option.
  return out + Format("</table><p>Durations are at the rate of the first link that plays the sound, "
                      "as are the players, with the main clock at %lld Hz.</p>",
                      static_cast<ll>(map.settings.mainClockHz));
}

std::string WarningsPart(const PageNotes* notes) {
  if (notes == nullptr) return "";
  std::string out = "<h2 id=\"warnings\">Warnings of the compile</h2>";
  if (notes->warnings.empty()) return out + "<p>None.</p>";
  out += "<ul class=\"warn\">";
  for (const ScriptWarning& w : notes->warnings) {
    const std::string place =
        w.line > 0 ? Format("%s:%d", notes->script.c_str(), w.line) : notes->script;
    out += "<li><span class=\"mono\">" + HtmlEscape(place) + "</span>: " + HtmlEscape(w.text) +
           "</li>";
  }
  return out + "</ul>";
}

std::string TextSection(const char* id, const char* heading, const ImageMap& map, TextPart part) {
  return Format("<h2 id=\"%s\">%s</h2><pre>", id, heading) +
         HtmlEscape(TextReportPart(map, part)) + "</pre>";
}

}  // namespace

std::string ImagePage(const std::vector<uint8_t>& image, const ImageMap& map,
                      const PageNotes* notes) {
  const std::string name = HtmlEscape(BaseName(map.path));
  std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                     "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                     // Nothing may come from outside the page, whatever a name in it says.
                     "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                     "style-src 'unsafe-inline'; script-src 'unsafe-inline'; media-src data:\">";
  page += "<title>QS71 image " + name + "</title>" + kStyle + "</head><body>";
  page += "<h1>QS71 image " + name + "</h1>" + Summary(map);
  if (notes != nullptr)
    page += "<p>Compiled by qs71gen from <span class=\"mono\">" + HtmlEscape(notes->script) +
            "</span>.</p>";
  page += MapPart(map) + SectionsPart(map, notes);
  page += SoundsPart(image, map, notes);
  page += WarningsPart(notes);
  page += TextSection("options", map.options.configBlock ? "Configuration block" : "Option block",
                   map, TextPart::Options);
  page += TextSection("volume-map", "Volume map", map, TextPart::VolumeMap);
  page += TextSection("system-area", "System area", map, TextPart::SystemArea);
  page += kScript;
  page += "</body></html>\n";
  return page;
}

int WriteImagePage(const std::string& path, const std::string& page, std::string* problem) {
  std::string reason;
  if (WriteOutputText(path, page, &reason)) return DumpOk;
  *problem = path + ": " + reason;
  return DumpPageFailed;
}
