#pragma once

#include "definitions/FirmwareUpdater.h"

#include <vector>

// Finds what the loader lets through but makes a definition wrong: targets that name no state,
// states nothing leads to or that lead nowhere, transitions that can never fire, images no
// package carries, names the engine or the panel do not know, values the loader clamps, GotoState
// cycles that never pause, erases no transfer can follow. `vfu lint` prints these.
namespace vfu::definitions
{
// The stable codes of the warnings.
namespace lintCode
{
inline constexpr const char* unknownTarget = "unknown-target";
inline constexpr const char* unreachableState = "unreachable-state";
inline constexpr const char* noWayOut = "no-way-out";
inline constexpr const char* resultNeverProduced = "result-never-produced";
inline constexpr const char* missingImage = "missing-image";
inline constexpr const char* deadCheck = "dead-check";
inline constexpr const char* unknownField = "unknown-field";
inline constexpr const char* duplicatePollingState = "duplicate-polling-state";
inline constexpr const char* timeoutToSelf = "timeout-to-self";
inline constexpr const char* valueOutOfRange = "value-out-of-range";
inline constexpr const char* cycleWithoutPause = "cycle-without-pause";
inline constexpr const char* eraseWithoutTransfer = "erase-without-transfer";
} // namespace lintCode

struct LintWarning
{
    juce::String code;      // one of lintCode
    juce::String stateName; // the state the element belongs to
    juce::String element;   // the element's tag: State, Button, PollingState, ...
    int line = 0;           // the element's line in the document (first line 1); 0 when unknown
    juce::String message;
};

struct LintOptions
{
    // Packages (files or folders of .vfw files) to look for the firmware images in.
    juce::Array<juce::File> packages;
    // Whether missing images are looked for at all: only when packages were given.
    bool checkImages = false;
};

struct LintResult
{
    // The loader's message when it rejected the document; then there are no warnings.
    juce::String loadError;
    std::vector<LintWarning> warnings; // in document order
    // Packages that were given but not accepted, each with the reason.
    juce::StringArray rejectedPackages;

    bool isLoaded() const { return loadError.isEmpty(); }
};

// Loads the document text for the device and mode as the app's loader does (no program archive),
// then checks the loaded definition.
LintResult lintDefinitionText (const juce::String& documentText, const juce::String& deviceName, bool consoleMode,
                               const LintOptions& options = {});

// "SOURCE:LINE: CODE: State 'NAME', ELEMENT: MESSAGE" (without ":LINE" when the line is unknown).
juce::String formatLintWarning (const LintWarning& warning, const juce::String& sourceName);

// { "code", "state", "element", "line", "message" }
juce::var describeLintWarning (const LintWarning& warning);
} // namespace vfu::definitions
