// The AVI read module (id 10): AVI 1.0 and OpenDML (AVI 2.0) files with
// several titles, a menu section and bitmap-subtitle streams.
#pragma once

#include "layer1/zep_module.h"

extern const ZepModule zepAviModule;
