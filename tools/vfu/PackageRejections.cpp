#include "PackageRejections.h"

#include "definitions/FirmwareUpdater.h"
#include "packages/FirmwarePackageStore.h"

#include <iostream>

namespace vfu::tool
{
void reportRejectedPackages (const FirmwareUpdater* updater)
{
    if (updater == nullptr)
        return;

    for (const auto& finding : updater->getPackageStore().getFindings())
        if (finding.reason.isNotEmpty())
            std::cerr << "Package not accepted: " << finding.source << ": " << finding.reason << std::endl;
}
} // namespace vfu::tool
