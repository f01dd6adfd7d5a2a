#pragma once
// The names of the scratch files beside outputs that exist on disk right now, so that an
// interrupted run removes every one of them: the image's, the map's, the page's, a prepared
// sound's, and the hidden name an unnamed file is linked to just before its rename. A signal
// handler may only unlink, so the names sit in a fixed table, never in a std::string.

#include <string>

// Called before the name is created (or right after, where the system picks it), so that no
// moment leaves a name the handler does not know.
void HoldScratchName(const std::string& name);

// Called once the name is gone: renamed onto its output or removed.
void ForgetScratchName(const std::string& name);

// Removes every held name; safe in a signal handler.
void RemoveHeldScratchNames();
