#pragma once

#include "midi/UpdateObserver.h"

#include <juce_core/juce_core.h>

#include <vector>

namespace vfu::recording
{
// What an updater exchanged with the MIDI system, one JSON object a line (docs/recordings.md).
constexpr int formatNumber = 1;
constexpr int maximumLineBytes = 64 * 1024;
constexpr juce::int64 maximumFileBytes = 64 * 1024 * 1024;

struct Entry
{
    enum class Kind
    {
        ports,   // the port lists as the updater last saw them
        state,   // a state entered
        package, // the package selected after the start
        message, // a whole message, either way
        piece    // a piece of a firmware image, to the instrument
    };

    Kind kind = Kind::message;
    int line = 0;
    double t = 0.0; // seconds on the updater's clock since the start
    bool toInstrument = false;
    juce::String port;
    juce::MemoryBlock bytes; // message
    juce::String image;      // piece
    juce::int64 offset = 0, length = 0;
    juce::String sha256;
    juce::StringArray inputs, outputs; // ports
    juce::String state;                // state
};

struct Recording
{
    juce::String program, model, packageVersion;
    std::vector<UpdateObserver::ImageDigest> images;
    std::vector<Entry> entries;
    int lines = 0;
};

// Reads a whole recording. On failure returns false and sets `error` to "line N: WHY" (or a reason
// about the file as a whole); never reads past the data.
bool parse (const void* data, size_t size, Recording& recording, juce::String& error);
bool readFile (const juce::File& file, Recording& recording, juce::String& error);

// "F0 7E 7F 06 01 F7"
juce::String toHex (const void* data, size_t size);

// A message as the divergence lines show it: its hex, shortened when long.
juce::String describeBytes (const void* data, size_t size);
} // namespace vfu::recording
