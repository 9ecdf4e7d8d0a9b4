#pragma once

#include <juce_core/juce_core.h>

namespace vfu
{
// The few facts of an update that only the engine knows, for a MIDI layer that records what the
// updater exchanges (RecordingMidiLayer): the engine tells the layer under its port selector when
// that layer is also an UpdateObserver. Called on the engine thread, except packageSelected, which
// comes from whoever selects the package.
class UpdateObserver
{
public:
    struct ImageDigest
    {
        juce::String name;   // the image's entry name in the package ("quillbox-fw-2.2.1.syx")
        juce::String sha256; // lower-case hex
    };

    virtual ~UpdateObserver() = default;

    virtual void stateEntered (const juce::String& stateName) = 0;
    virtual void packageSelected (const juce::String& version, const std::vector<ImageDigest>& images) = 0;

    // The messages sent between these two calls are pieces of this image, in order.
    virtual void imageTransferStarting (const juce::String& imageName, const juce::MemoryBlock& image) = 0;
    virtual void imageTransferEnded() = 0;
};
} // namespace vfu
