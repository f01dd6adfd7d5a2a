#pragma once
// The map of an image as JSON: the same content as the text, with stable snake_case keys,
// positions and values as decimal integers, one document per image.

#include <string>

#include "image_map.h"

std::string JsonReport(const ImageMap& map);
