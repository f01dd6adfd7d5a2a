#pragma once
// The system area judged by the programmer library's own rules (CheckSystemArea and
// MaskSystemArea of the image format's system_area.h), plus the verdict of the image check on
// the tag and the fixed tables the generator puts there.
//
// CheckSystemArea is what the programmer asks of a part's system area whenever it reads it
// (identify, blank check, verify). Applied to the image it tells whether the image carries
// a good part's values, as an image read back from a part or a configuration block made from
// a part's own trims does. The places MaskSystemArea covers hold the factory trims and the
// marker; the programmer leaves them out of the verify, but a write still programs them. An
// image that holds 0xFF there (or the marker 0x5A) leaves a part's factory values as they
// are; any other byte there is ANDed into them by the write, and whether the part's system
// area still passes the check afterwards depends on the part. Where the mask forces bits that
// hold the part's own trims, a 0 in the image clears them for good: the image check's
// factory-cell verdict, which qs71prog enforces even with --force, is shown here too.

#include <cstdint>

#include "image_bytes.h"
#include "image_check.h"
#include "image_map.h"

SystemAreaVerdict JudgeSystemArea(const ImageBytes& image, const ImageVerdict& checked);
