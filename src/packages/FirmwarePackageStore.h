#pragma once

#include "packages/PackageSignature.h"

#include <juce_core/juce_core.h>

#include <map>
#include <memory>
#include <mutex>

namespace vfu
{
// The images the transfers will send, read from the selected package at one moment and checked
// there as a whole: what the engine sends after an erase, so that a package changed after the
// check changes nothing.
struct CheckedImages
{
    juce::String versionText;                         // the selection they were read for
    std::map<juce::String, juce::MemoryBlock> images; // by entry name, one per required image
};

// The firmware packages of one FirmwareUpdater: collected and checked once at construction,
// ordered by version number, and one of them selected for the transfers.
class FirmwarePackageStore
{
public:
    FirmwarePackageStore();
    ~FirmwarePackageStore();

    // The keys packages may be signed with and whether unsigned ones are refused, for the next
    // collect and for the checks of readSelectedImage; the built-in trust until set.
    void setTrust (const PackageSignature::Trust& trust);

    // The messageKinds of the images the transfers will read (each SendSysEx that sends an image).
    // From the next collect on, a package is accepted only when it holds each of them, named with
    // its own version ("$(version)" replaced, ".syx" appended); the transfer re-checks repeat it.
    void setRequiredImages (const juce::StringArray& messageKinds);
    juce::StringArray getRequiredImages() const;

    // Collects from the program file (opened as a ZIP archive, its ".vfw" entries) and then from
    // each search path in order (a folder's *.vfw files, or a file). Later sources replace earlier
    // ones with the same version number, except that an unsigned package never replaces a signed one.
    void collect (const juce::File& programFile, const juce::Array<juce::File>& searchPaths);

    // Ascending by version number, each formatted by formatVersionNumber.
    juce::StringArray getFirmwareVersions() const;
    // The last of getFirmwareVersions, or empty.
    juce::String getLatestFirmwareVersion() const;
    // Selects the package with exactly that version number; false (and no change) when none has it.
    bool setFirmwareVersion (const juce::String& versionText);
    // The text given to the last successful setFirmwareVersion, or empty.
    juce::String getSelectedVersionText() const;

    enum class ImageReadResult
    {
        noPackageSelected,
        packageUnreadable,  // the stream no longer reads (or has grown past the size limit)
        packageCheckFailed, // it no longer passes its check, gives another version, lacks a required
                            // image, or its signer is not the one collection saw
        entryMissing,       // no entry of that name
        entryUnreadable,    // the entry exists but cannot be read whole (its check read it, so rare)
        ok
    };

    // Reads the selected package again and checks it as collection did (its check, its version,
    // the required images, the same signer) without reading an image: ok, noPackageSelected,
    // packageUnreadable or packageCheckFailed. (The engine reads the images themselves with
    // readSelectedImages before anything irreversible is sent.)
    ImageReadResult checkSelectedPackage (juce::String* failureDetail = nullptr) const;

    // Reads the selected package's image for a SendSysEx messageKind ("$(version)" replaced by the
    // selected version text, ".syx" appended) into memory. The selection cannot change while it
    // reads. For packageCheckFailed, failureDetail (when given) receives the check's reason.
    ImageReadResult readSelectedImage (const juce::String& messageKind, juce::MemoryBlock& image,
                                       juce::String& entryName, juce::String& versionText,
                                       juce::String* failureDetail = nullptr) const;

    // Reads the selected package once, checks it as readSelectedImage does, and reads every
    // required image from those same bytes; ok, or what readSelectedImage would give.
    ImageReadResult readSelectedImages (CheckedImages& checked, juce::String* failureDetail = nullptr) const;

    // One source that collection looked at, for the command-line tool.
    struct Finding
    {
        juce::String source;         // a path, or "<program path>!<entry name>" for the program archive
        int versionNumber;           // -1 when rejected
        juce::String reason;         // why it was rejected; empty when accepted
        juce::String signature = {}; // accepted ones: "unsigned" or "signed by KEYID (name)"
    };

    // Every source collection looked at, in the order it looked.
    std::vector<Finding> getFindings() const;

    // Checks one package; the version number from its checksum entry's name, or -1 with a reason.
    static int checkPackage (juce::InputStream& stream, juce::String* rejectionReason = nullptr);

    // Checks a package held in memory, as checkPackage does.
    static int checkPackageData (const juce::MemoryBlock& package, juce::String* rejectionReason = nullptr);

    // The same check with the given trust; the signature's verdict goes to `signature` (when the
    // check got as far as the signature) and the names of the checked images to `imageNames`. A
    // package whose signature entry fails, an unsigned one when the trust requires signatures, and
    // a signed one that lacks an image its list names are refused.
    static int checkPackageData (const juce::MemoryBlock& package, const PackageSignature::Trust& trust,
                                 juce::String* rejectionReason, PackageSignature::Verdict* signature = nullptr,
                                 juce::StringArray* imageNames = nullptr);

    // The version number that a checksum entry's name gives: the text after the last "-" of the
    // base name with every "fw." removed; -1 when the name has neither.
    static int versionFromChecksumEntryName (const juce::String& entryName);

    // Images above this size are refused: a transfer reads the whole image into memory.
    static constexpr juce::int64 maximumImageSize = 16 * 1024 * 1024;
    // A package (file or program-archive entry) is read into memory whole for its check and for
    // a transfer, so it is bounded too; so are its checksum list and the sum of its images.
    static constexpr juce::int64 maximumPackageSize = 64 * 1024 * 1024;
    static constexpr juce::int64 maximumChecksumListSize = 1024 * 1024;
    static constexpr juce::int64 maximumTotalImageSize = 64 * 1024 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwarePackageStore)
};
} // namespace vfu
