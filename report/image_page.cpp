#include "image_page.h"

#include <algorithm>

#include "dump_result.h"
#include "output_writer.h"
#include "memory_map_svg.h"
#include "page_text.h"
#include "sound_extract.h"
#include "sound_list.h"
#include "text_report.h"
#include "wav_output.h"
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
h1{font-size:1.5rem}h2{font-size:1.2rem;margin-top:2rem;border-bottom:1px solid #767676}h3{font-size:1rem;margin:0 0 .4rem}
table{border-collapse:collapse;font-size:.875rem}
th,td{border:1px solid #a0a0a0;padding:.2rem .4rem;text-align:left;vertical-align:middle;white-space:nowrap}
td.wrap,.summary td,.figures td{white-space:normal;overflow-wrap:anywhere}
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
.sound{border:1px solid #a0a0a0;padding:.5rem .75rem;margin:.75rem 0}
.card{display:flex;flex-wrap:wrap;gap:.75rem 1.5rem;align-items:flex-start}
.figures{flex:1 1 18rem;max-width:28rem}.figures th{font-weight:normal;color:#4d4d4d}
.players{flex:3 1 36rem;min-width:0;display:flex;flex-direction:column;gap:.5rem}
.player{display:flex;flex-wrap:wrap;align-items:center;gap:.25rem .75rem}
.player .what{width:5rem;font-weight:600}
.play{flex:1 1 18rem;min-width:0;display:flex;flex-direction:column;gap:.2rem;font-size:.875rem}
.play audio{width:100%;max-width:24rem}
svg.wave{background:#f8f8f8;flex:none}svg.wave path{stroke:#1f6fb2;stroke-width:1}svg.wave .axis{stroke:#a0a0a0}
.sound:target{outline:3px solid #b26a00}
.warn,.failed{color:#8a1c00}.failed{font-size:1.2rem;font-weight:700}
.badge{display:inline-block;margin-left:.4rem;padding:0 .45rem;border-radius:.6rem;font-size:.8rem;font-weight:600;color:#fff;background:#8a1c00;vertical-align:.05rem}
ul.warn li{margin:.2rem 0}
@media print{body{margin:0}audio,.download,#map-detail{display:none}#memory-map{max-height:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}.sound{break-inside:avoid}}
</style>)";

// The only script: the details of the block under the pointer or the focus, in words; the
// download links, which take their player's data.
constexpr char kScript[] = R"(<script>
(function(){document.querySelectorAll('a[data-player]').forEach(function(a){
var p=document.getElementById(a.getAttribute('data-player'));if(p){a.href=p.getAttribute('src');a.hidden=false;}});
var d=document.getElementById('map-detail'),m=document.getElementById('memory-map');
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
         "card below.</p>";
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

// A card per sound: its heading, its figures (a column a compile step adds is one more row) and
// its players stacked beside them, so that the page stays within the window's width.
struct CardHead {
  std::string id;
  std::string title;
  std::vector<std::pair<std::string, std::string>> figures;
  std::vector<std::string> badges;
};

std::string Badge(const std::string& text) { return "<span class=\"badge\">" + HtmlEscape(text) + "</span>"; }

// One badge for each kind of warning a sound has, in the order the warnings came.
std::vector<std::string> BadgesOf(const PageNotes* notes, const SoundNote* note) {
  std::vector<std::string> badges;
  if (notes == nullptr || note == nullptr) return badges;
  for (const ScriptWarning& w : notes->warnings) {
    if (w.sound != note->name || w.badge.empty()) continue;
    if (std::find(badges.begin(), badges.end(), w.badge) == badges.end()) badges.push_back(w.badge);
  }
  return badges;
}

void OpenCard(const CardHead& card, std::string* out) {
  *out += "<section class=\"sound\" id=\"" + card.id + "\"><h3>" + HtmlEscape(card.title);
  for (const std::string& badge : card.badges) *out += Badge(badge);
  *out += "</h3><div class=\"card\"><table class=\"figures\">";
  for (const auto& [heading, value] : card.figures)
    *out += "<tr><th scope=\"row\">" + HtmlEscape(heading) + "</th>" + Cell(value) + "</tr>";
  *out += "</table><div class=\"players\">";
}

void CloseCard(std::string* out) { *out += "</div></div></section>"; }

// One player: the waveform of its samples, the WAV bytes as a data URI (most of the page's
// bytes, appended in place), a link that downloads them under a sound's name (the page's
// script gives it the player's data, which would otherwise be on the page twice), and levels.
struct PlayerView {
  std::string id;
  std::string what;
  std::string label;
  std::string download;
  const std::vector<int32_t>* samples;
  std::vector<uint8_t> wav;
  std::string levels;
};

void AppendPlayer(const PlayerView& p, std::string* out) {
  *out += "<div class=\"player\"><span class=\"what\">" + HtmlEscape(p.what) + "</span>";
  *out += WaveformSvg(DecimateMinMax(*p.samples, kWaveWidth), kWaveWidth, kWaveHeight,
                      "Waveform of " + p.label + ", " + p.what);
  *out += Format("<div class=\"play\"><audio id=\"%s\" controls preload=\"none\" aria-label=\"Play %s, "
                 "%s\" data-wav=\"%s\" src=\"",
                 p.id.c_str(), HtmlEscape(p.label).c_str(), HtmlEscape(p.what).c_str(),
                 HtmlEscape(p.download).c_str());
  *out += DataUri("audio/wav", p.wav);
  *out += Format("\"></audio><a class=\"download\" data-player=\"%s\" download=\"%s\" hidden>%s</a>",
                 p.id.c_str(), HtmlEscape(p.download).c_str(), HtmlEscape(p.download).c_str());
  if (!p.levels.empty()) *out += "<span class=\"levels\">" + HtmlEscape(p.levels) + "</span>";
  *out += "</div></div>";
}

void AppendNoPlayer(const std::string& what, const std::string& why, std::string* out) {
  *out += "<div class=\"player\"><span class=\"what\">" + HtmlEscape(what) +
          "</span><span class=\"missing\">" + HtmlEscape(why) + "</span></div>";
}

// The compile's own players of a sound: its source, its prepared samples.
void AppendCompilePlayers(const PageNotes* notes, const SoundNote* note, const std::string& id,
                          const std::string& label, std::string* out) {
  if (notes == nullptr || note == nullptr || !notes->players) return;
  for (const PagePlayer& p : notes->players(*note)) {
    if (!p.missing.empty()) {
      AppendNoPlayer(p.what, p.missing, out);
      continue;
    }
    AppendPlayer({id + "-" + p.what, p.what, label, p.download, &p.samples,
                  WavBytes(WavFormat{p.rate, 16}, p.samples), p.levels},
                 out);
  }
}

// What the chip plays: exactly the WAV file --extract writes; named after the script's sound
// when the compile tells it.
void AppendChipPlayer(const std::vector<uint8_t>& image, const ImageMap& map, const Sound& s,
                      const PageNotes* notes, const SoundNote* note, const std::string& label,
                      std::string* out) {
  const char* what = "chip";
  if (!CanExtract(s)) return AppendNoPlayer(what, "no decoder for EQ01 codes", out);
  if (!KindHasData(s.kind->kind) && s.length > kMaxPageSilence)
    return AppendNoPlayer(what, Format("%lld samples of silence", static_cast<ll>(s.length)), out);
  const std::vector<int32_t> decoded = DecodeSound(image, map, s);
  const double rate = LinkRate(map.settings.mainClockHz, s.divider);
  const std::string levels =
      notes != nullptr && notes->levels ? notes->levels(decoded, rate) : std::string();
  AppendPlayer({Format("play-%d-chip", s.id), what, label,
                note != nullptr ? note->name + ".wav" : WavName(s), &decoded,
                ExtractedWavBytes(map, s, decoded), levels},
               out);
}

std::string SoundAddresses(const Sound& s) {
  return KindHasData(s.kind->kind) ? RangeText(s.filePos, s.filePos + s.length - 1) : "(no data)";
}

// The figures a compile adds: one row per extra column.
void AddExtraFigures(const PageNotes* notes, const SoundNote* note, CardHead* card) {
  if (notes == nullptr) return;
  for (size_t c = 0; c < notes->extraColumns.size(); ++c) {
    const std::string value = note != nullptr && c < note->extra.size() ? note->extra[c] : "";
    if (!value.empty()) card->figures.push_back({notes->extraColumns[c], value});
  }
}

void AppendSoundCard(const std::vector<uint8_t>& image, const ImageMap& map, const Sound& s,
                     const PageNotes* notes, std::string* out) {
  const SoundNote* note = NoteFor(notes, s);
  const int64_t samples = KindSamplesIn(*s.kind, s.length);
  const double rate = LinkRate(map.settings.mainClockHz, s.divider);
  const std::string label = Format("sound #%d", s.id) + (note ? " " + note->name : "");
  CardHead card{Format("sound-%d", s.id), Format("#%d", s.id) + (note ? " " + note->name : ""), {},
                BadgesOf(notes, note)};
  if (note != nullptr && KindHasData(s.kind->kind)) card.figures.push_back({"wave file", note->waveFile});
  card.figures.push_back({"kind", KindName(s.kind)});
  card.figures.push_back({"file positions", SoundAddresses(s)});
  card.figures.push_back({"bytes", Format("%lld", static_cast<ll>(KindHasData(s.kind->kind) ? s.length : 0))});
  card.figures.push_back({"samples", Format("%lld", static_cast<ll>(samples))});
  card.figures.push_back({"duration", Format("%.3f s at %.0f Hz", rate > 0 ? samples / rate : 0.0, rate)});
  AddExtraFigures(notes, note, &card);
  OpenCard(card, out);
  AppendCompilePlayers(notes, note, Format("play-%d", s.id), label, out);
  AppendChipPlayer(image, map, s, notes, note, label, out);
  CloseCard(out);
}

std::string SoundsPart(const std::vector<uint8_t>& image, const ImageMap& map,
                       const PageNotes* notes) {
  std::string out = "<h2 id=\"sounds\">Sounds</h2><div id=\"sound-cards\">";
  for (const Sound& s : map.sounds) AppendSoundCard(image, map, s, notes, &out);
  // The clock is not in the image: qs71gen's is the script's $MAINCLK, qs71dump's its option.
  out += Format("</div><p>Durations are at the rate of the first link that plays the sound, "
                "as is the chip's player, with the main clock at %lld Hz.",
                static_cast<ll>(map.settings.mainClockHz));
  if (notes != nullptr && notes->players)
    out += " The source plays as its file holds it, mixed to mono, at its own rate; the prepared "
           "sound as the encoder takes it.";
  return out + "</p>";
}

// The card of each sound the compile names, by its name in the script.
using CardIds = std::vector<std::pair<std::string, std::string>>;

std::string CardOf(const CardIds& cards, const std::string& sound) {
  for (const auto& [name, id] : cards) {
    if (!sound.empty() && name == sound) return id;
  }
  return "";
}

// Every warning, at the top of a compile's page, each linked to the card of its sound.
std::string WarningsPart(const PageNotes* notes, const CardIds& cards) {
  if (notes == nullptr) return "";
  std::string out = Format("<h2 id=\"warnings\">Warnings of the compile (%d)</h2>",
                           static_cast<int>(notes->warnings.size()));
  if (notes->warnings.empty()) return out + "<p>None.</p>";
  out += "<ul class=\"warn\">";
  for (const ScriptWarning& w : notes->warnings) {
    const std::string place =
        w.line > 0 ? Format("%s:%d", notes->script.c_str(), w.line) : notes->script;
    const std::string card = CardOf(cards, w.sound);
    out += "<li>";
    if (!card.empty()) out += "<a href=\"#" + card + "\">" + HtmlEscape(w.sound) + "</a>";
    if (!w.badge.empty()) out += Badge(w.badge);
    out += (card.empty() ? "<span class=\"mono\">" : " <span class=\"mono\">") + HtmlEscape(place) + "</span>: " +
           HtmlEscape(w.text) + "</li>";
  }
  return out + "</ul>";
}

CardIds ImageCards(const ImageMap& map, const PageNotes* notes) {
  CardIds cards;
  for (const Sound& s : map.sounds) {
    if (const SoundNote* note = NoteFor(notes, s)) cards.push_back({note->name, Format("sound-%d", s.id)});
  }
  return cards;
}

std::string TextSection(const char* id, const char* heading, const ImageMap& map, TextPart part) {
  return Format("<h2 id=\"%s\">%s</h2><pre>", id, heading) +
         HtmlEscape(TextReportPart(map, part)) + "</pre>";
}

// The page's head and the start of its body.
std::string PageStart(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         // Nothing may come from outside the page, whatever a name in it says.
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         "style-src 'unsafe-inline'; script-src 'unsafe-inline'; media-src data:\">"
         "<title>" + title + "</title>" + kStyle + "</head><body>";
}

// A sound of a compile that wrote no image: what the script and its file tell, and the
// compile's players; the chip's has nothing to play.
void AppendFailedCard(const PageNotes& notes, const SoundNote& n, size_t index, std::string* out) {
  CardHead card{Format("sound-%d", static_cast<int>(index + 1)), n.name, {}, BadgesOf(&notes, &n)};
  if (KindHasData(n.kind)) card.figures.push_back({"wave file", n.waveFile});
  card.figures.push_back({"kind", KindName(FindSoundKind(n.kind))});
  card.figures.push_back({"samples", Format("%lld", static_cast<ll>(n.samples))});
  card.figures.push_back({"bytes", Format("%lld", static_cast<ll>(n.bytes))});
  AddExtraFigures(&notes, &n, &card);
  OpenCard(card, out);
  AppendCompilePlayers(&notes, &n, Format("play-%d", static_cast<int>(index + 1)), n.name, out);
  AppendNoPlayer("chip", "no image written", out);
  CloseCard(out);
}

}  // namespace

std::string ImagePage(const std::vector<uint8_t>& image, const ImageMap& map,
                      const PageNotes* notes) {
  const std::string name = "QS71 image " + HtmlEscape(BaseName(map.path));
  std::string page = PageStart(name) + "<h1>" + name + "</h1>" + Summary(map);
  if (notes != nullptr)
    page += "<p>Compiled by qs71gen from <span class=\"mono\">" + HtmlEscape(notes->script) +
            "</span>.</p>";
  page += WarningsPart(notes, ImageCards(map, notes));
  page += MapPart(map) + SectionsPart(map, notes);
  page += SoundsPart(image, map, notes);
  page += TextSection("options", map.options.configBlock ? "Configuration block" : "Option block",
                   map, TextPart::Options);
  page += TextSection("volume-map", "Volume map", map, TextPart::VolumeMap);
  page += TextSection("system-area", "System area", map, TextPart::SystemArea);
  return page + kScript + "</body></html>\n";
}

std::string FailedCompilePage(const std::string& image, const PageNotes& notes,
                              const std::vector<std::string>& lines, const std::string& mapText) {
  const std::string name = "QS71 image " + HtmlEscape(BaseName(image));
  std::string page = PageStart("FAILED: " + name) + "<h1>" + name + "</h1>";
  page += "<p class=\"failed\" id=\"failed\">FAILED: no image written</p><ul class=\"warn\">";
  for (const std::string& line : lines) page += "<li>" + HtmlEscape(line) + "</li>";
  page += "</ul><p>Compiled by qs71gen from <span class=\"mono\">" + HtmlEscape(notes.script) + "</span>.</p>";
  CardIds cards;
  for (size_t i = 0; i < notes.sounds.size(); ++i) {
    cards.push_back({notes.sounds[i].name, Format("sound-%d", static_cast<int>(i + 1))});
  }
  page += WarningsPart(&notes, cards) + "<h2 id=\"sounds\">Sounds</h2><div id=\"sound-cards\">";
  for (size_t i = 0; i < notes.sounds.size(); ++i) AppendFailedCard(notes, notes.sounds[i], i, &page);
  page += "</div>";
  page += "<h2 id=\"map-text\">Map of the failed compile</h2><pre>" + HtmlEscape(mapText) + "</pre>";
  return page + kScript + "</body></html>\n";
}

int WriteImagePage(const std::string& path, const std::string& page, std::string* problem) {
  std::string reason;
  if (WriteOutputText(path, page, &reason)) return DumpOk;
  *problem = path + ": " + reason;
  return DumpPageFailed;
}
