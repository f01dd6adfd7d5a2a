#include "memory_map_svg.h"

#include <algorithm>

#include "ascii_case.h"
#include "page_text.h"
#include "sound_list.h"
#include "text_format.h"

namespace {

constexpr int kRows = 16;
constexpr int kRowWidth = 1024;
constexpr int kRowHeight = 14;
constexpr int kRowPitch = 18;

using ull = unsigned long long;

std::string Span(int64_t first, int64_t last) {
  return Format("0x%06llX..0x%06llX, %lld bytes", static_cast<ull>(first), static_cast<ull>(last),
                static_cast<long long>(last - first + 1));
}

void AddRegion(std::vector<MapBlock>* blocks, const char* kind, const char* name, int64_t first,
               int64_t last) {
  if (last < first) return;
  blocks->push_back({first, last, kind, Format("%s %s", name, Span(first, last).c_str()), 0});
}

void AddSounds(const ImageMap& map, std::vector<MapBlock>* blocks) {
  for (const Sound& s : map.sounds) {
    if (!KindHasData(s.kind->kind) || s.length <= 0) continue;
    const int64_t last = s.filePos + s.length - 1;
    const std::string kind = AsciiLowerCopy(KindName(s.kind));
    blocks->push_back({s.filePos, last, "sound " + kind,
                       Format("sound #%d %s %s", s.id, KindName(s.kind),
                              Span(s.filePos, last).c_str()),
                       s.id});
  }
}

// One rectangle per row the block touches, at least a unit wide so that a 16-byte header
// still shows on a part of megabytes.
std::string BlockRects(const MapBlock& b, int64_t rowBytes) {
  std::string rects;
  for (int64_t row = b.first / rowBytes; row <= b.last / rowBytes && row < kRows; ++row) {
    const int64_t from = std::max(b.first, row * rowBytes) - row * rowBytes;
    const int64_t to = std::min(b.last, row * rowBytes + rowBytes - 1) - row * rowBytes + 1;
    const double x = static_cast<double>(from) * kRowWidth / rowBytes;
    const double w = std::max(1.0, static_cast<double>(to - from) * kRowWidth / rowBytes);
    rects += Format("<rect x=\"%.2f\" y=\"%lld\" width=\"%.2f\" height=\"%d\"/>", x,
                    static_cast<long long>(row * kRowPitch), w, kRowHeight);
  }
  return rects;
}

std::string BlockSvg(const MapBlock& b, int64_t rowBytes) {
  const std::string title = HtmlEscape(b.title);
  const std::string group =
      Format("<g class=\"block %s\" data-detail=\"%s\"%s><title>%s</title>%s</g>", b.kind.c_str(),
             title.c_str(), b.soundId > 0 ? Format(" data-sound=\"%d\"", b.soundId).c_str()
                                           : " tabindex=\"0\"",
             title.c_str(), BlockRects(b, rowBytes).c_str());
  if (b.soundId == 0) return group;
  return Format("<a href=\"#sound-%d\">%s</a>", b.soundId, group.c_str());
}

}  // namespace

std::vector<MapBlock> MapBlocks(const ImageMap& map) {
  std::vector<MapBlock> blocks;
  AddRegion(&blocks, "header", "header", 0, 15);
  if (!map.noSections) AddRegion(&blocks, "sections", "section entries", 16, map.groupStart - 1);
  AddRegion(&blocks, "groups", "group tables", GroupTablesStart(map), SoundDataStart(map) - 1);
  AddSounds(map, &blocks);
  for (const FreeRange& f : map.freeRanges) {
    AddRegion(&blocks, "free", "free", f.start, f.end);
    // As the text report says it: bytes that no link names but something wrote.
    if (f.used > 0)
      blocks.back().title +=
          Format(", %lld not 0xFF (unlinked data?)", static_cast<long long>(f.used));
  }
  AddRegion(&blocks, "system", "system area", map.layout.systemAreaStart, map.layout.fileSize - 1);
  std::stable_sort(blocks.begin(), blocks.end(),
                   [](const MapBlock& a, const MapBlock& b) { return a.first < b.first; });
  return blocks;
}

std::string MemoryMapSvg(const ImageMap& map) {
  const int64_t size = std::max<int64_t>(map.layout.fileSize, 1);
  const int64_t rowBytes = (size + kRows - 1) / kRows;
  const int rows = static_cast<int>((size + rowBytes - 1) / rowBytes);
  const int height = rows * kRowPitch - (kRowPitch - kRowHeight);
  std::string svg = Format(
      "<svg id=\"memory-map\" role=\"img\" aria-labelledby=\"map-title\" viewBox=\"0 0 %d %d\" "
      "preserveAspectRatio=\"none\"><title id=\"map-title\">The part, %lld bytes in %d rows of "
      "%lld bytes, from position 0 at the top left</title>",
      kRowWidth, height, static_cast<long long>(size), rows, static_cast<long long>(rowBytes));
  for (const MapBlock& b : MapBlocks(map)) svg += BlockSvg(b, rowBytes);
  return svg + "</svg>";
}
