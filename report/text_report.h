#pragma once
// The map of an image as text for a person: one part per region, in the order of the image.

#include <string>

#include "image_map.h"

std::string TextReport(const ImageMap& map);

// One part of the report alone, for the page, which shows them as the text does.
enum class TextPart { Options, VolumeMap, SystemArea };
std::string TextReportPart(const ImageMap& map, TextPart part);

// "0x000100..0x0001FF" and "divider  31 (16000 Hz)", as the report writes ranges and rates.
std::string RangeText(int64_t first, int64_t last);
std::string RateText(const ImageMap& map, uint8_t divider);

// "Edge, UnHold, NonRtg, StopDis, option 2": a section's flags and option.
std::string SectionFlagsText(const Section& s);
