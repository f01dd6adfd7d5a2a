#pragma once
// The map of an image as text for a person: one part per region, in the order of the image.

#include <string>

#include "image_map.h"

std::string TextReport(const ImageMap& map);
