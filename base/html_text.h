#pragma once
// Text inside an HTML page: every page a program writes (the image page, the shift report)
// escapes names from scripts, file systems and logs the same one way.

#include <string>

// &, <, > and both quotes as entities: safe in element text and in quoted attributes.
std::string HtmlEscape(const std::string& text);
