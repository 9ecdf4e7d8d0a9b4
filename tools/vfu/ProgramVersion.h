#pragma once

#include "core/ProgramVersion.h"

namespace vfu::tool
{
// What `vfu --version` prints; recordings name the program that made them with it.
constexpr const char* programVersion = "vfu " VFU_PROGRAM_VERSION;
} // namespace vfu::tool
