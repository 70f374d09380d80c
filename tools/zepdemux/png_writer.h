// Writes a decoded subtitle picture as an RGBA PNG: palette index 0 is
// transparent, the others take their palette colour.
#pragma once

#include <string>

#include "tools/zepdemux/qsub_picture.h"

namespace zepcli {

// Throws Failure when the file cannot be written.
void write_png(const std::string& path, const QsubPicture& picture);

}  // namespace zepcli
