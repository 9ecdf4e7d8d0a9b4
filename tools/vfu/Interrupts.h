#pragma once

namespace vfu::tool
{
// Counts SIGINT (Ctrl-C) and, when asked, SIGTERM from the moment this is called; the commands
// that run until stopped look at the count instead of being killed half-way.
void countInterrupts (bool includeTerminate);
int getInterruptCount();
} // namespace vfu::tool
