#pragma once
// Text inside the page: names from a script or a file system escaped for HTML (base/, shared
// with qs71prog's shift report), and the sounds a page that needs nothing beside it carries
// inside, as data URIs: base64 text of the bytes (RFC 4648 alphabet, padded), which every
// browser decodes without a script.

#include <cstdint>
#include <string>
#include <vector>

#include "html_text.h"

std::string Base64(const std::vector<uint8_t>& bytes);

// "data:<mime>;base64,..."
std::string DataUri(const char* mime, const std::vector<uint8_t>& bytes);
