// The reads of the selected package for a transfer: the package read into memory again and
// checked again as a whole (a file may have changed since collection), then its images read from
// those same bytes, so that what is sent is what the checksum list and its signature vouch for.

#include "packages/FirmwarePackageStoreImpl.h"

#include "core/Log.h"

namespace vfu
{
namespace
{
using ImageReadResult = FirmwarePackageStore::ImageReadResult;

bool sameSigner (const vfu::PackageSignature::Verdict& a, const vfu::PackageSignature::Verdict& b)
{
    return a.status == b.status && a.keyId == b.keyId;
}

// One image of the opened package: ok, entryMissing, or entryUnreadable with the image cleared.
ImageReadResult readImage (zip::MemoryArchive& archive, const juce::String& entryName, juce::MemoryBlock& image)
{
    const auto index = archive.getZipFile().getIndexOfFileName (entryName);
    if (index < 0)
        return ImageReadResult::entryMissing;

    if (!archive.readEntry (index, FirmwarePackageStore::maximumImageSize, image))
    {
        image.reset();
        return ImageReadResult::entryUnreadable;
    }

    return ImageReadResult::ok;
}
} // namespace

// Its check, its version, every image the transfers need, and the same signer, as collection saw.
ImageReadResult FirmwarePackageStore::Impl::recheckSelected (juce::MemoryBlock& package,
                                                             PackageSignature::Verdict& signature,
                                                             juce::String* failureDetail) const
{
    if (selectedStream == nullptr)
        return ImageReadResult::noPackageSelected;

    auto& stream = *selectedStream;
    if (!stream.setPosition (0) || !zip::readAtMost (stream, maximumPackageSize, package))
        return ImageReadResult::packageUnreadable;

    auto fail = [failureDetail] (const juce::String& detail)
    {
        if (failureDetail != nullptr)
            *failureDetail = detail;

        return ImageReadResult::packageCheckFailed;
    };

    juce::String reason;
    juce::StringArray imageNames;
    const auto version = checkPackageData (package, trust, &reason, &signature, &imageNames);
    if (version < 0)
        return fail (reason);

    if (version != packagestore::parseVersion (selectedVersionText))
        return fail ("it now gives version " + packagestore::formatVersion (version));

    if (!sameSigner (signature, selectedSignature))
        return fail (selectedSignature.describe (trust) + " when collected, now " + signature.describe (trust));

    if (const auto missing = packagestore::findMissingImage (requiredImageKinds, selectedVersionText, imageNames);
        missing.isNotEmpty())
        return fail ("required image missing: " + missing);

    return ImageReadResult::ok;
}

// The first steps of every image read: the re-check, then the archive opened from the bytes it
// checked. That layout was read from these same bytes just now, so it holds; JUCE is only handed
// an archive whose layout was read first.
ImageReadResult FirmwarePackageStore::Impl::openSelected (SelectedPackage& package, juce::String* failureDetail) const
{
    if (const auto result = recheckSelected (package.bytes, package.signature, failureDetail);
        result != ImageReadResult::ok)
        return result;

    return package.archive.open (package.bytes).wasOk() ? ImageReadResult::ok : ImageReadResult::packageCheckFailed;
}

ImageReadResult FirmwarePackageStore::readSelectedImage (const juce::String& messageKind, juce::MemoryBlock& image,
                                                         juce::String& entryName, juce::String& versionText,
                                                         juce::String* failureDetail) const
{
    image.reset();
    std::lock_guard<std::mutex> guard (impl->lock);

    if (impl->selectedStream == nullptr)
        return ImageReadResult::noPackageSelected;

    versionText = impl->selectedVersionText;
    entryName = packagestore::imageEntryName (messageKind, versionText);

    Impl::SelectedPackage package;
    if (const auto result = impl->openSelected (package, failureDetail); result != ImageReadResult::ok)
        return result;

    if (const auto result = readImage (package.archive, entryName, image); result != ImageReadResult::ok)
        return result;

    // Says which package is sent and who signed it, as checked just now.
    writeLog ("Firmware package " + versionText + " (" + impl->selectedSource + "): '" + entryName + "', " +
              package.signature.describe (impl->trust));
    return ImageReadResult::ok;
}

ImageReadResult FirmwarePackageStore::readSelectedImages (CheckedImages& checked, juce::String* failureDetail) const
{
    checked = {};
    std::lock_guard<std::mutex> guard (impl->lock);

    Impl::SelectedPackage package;
    if (const auto result = impl->openSelected (package, failureDetail); result != ImageReadResult::ok)
        return result;

    const auto versionText = impl->selectedVersionText;
    for (auto& kind : impl->requiredImageKinds)
    {
        const auto entryName = packagestore::imageEntryName (kind, versionText);
        if (const auto result = readImage (package.archive, entryName, checked.images[entryName]);
            result != ImageReadResult::ok)
        {
            checked = {};
            return result;
        }
    }

    checked.versionText = versionText;
    writeLog ("Firmware package " + versionText + " (" + impl->selectedSource +
              "): " + juce::String ((int) checked.images.size()) + " image(s) read and checked, " +
              package.signature.describe (impl->trust));
    return ImageReadResult::ok;
}

ImageReadResult FirmwarePackageStore::checkSelectedPackage (juce::String* failureDetail) const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    juce::MemoryBlock package;
    PackageSignature::Verdict signature;
    return impl->recheckSelected (package, signature, failureDetail);
}
} // namespace vfu
