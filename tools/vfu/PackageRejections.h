#pragma once

#include <juce_core/juce_core.h>

class FirmwareUpdater;

namespace vfu::tool
{
// Writes to standard error each package the updater's collection turned down, with its reason, as
// "Package not accepted: SOURCE: REASON"; said before a run fails for want of a package, so that
// the user learns why a package given was not used. Nothing for a null updater.
void reportRejectedPackages (const FirmwareUpdater* updater);
} // namespace vfu::tool
