#pragma once

namespace vfu::tool
{
// What `vfu --version` prints; recordings name the program that made them with it.
constexpr const char* programVersion = "vfu 2.2.0";
} // namespace vfu::tool
