#pragma once

#include "layer1/zep_module.h"

// The Matroska read module (id 12).
extern const ZepModule zepMkvModule;
