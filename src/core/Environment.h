#pragma once

#include <juce_core/juce_core.h>

namespace vfu
{
// Sets or removes a variable of this process's environment. JUCE reads variables but has no call
// to change them, and POSIX and Windows spell it differently.
void setEnvironmentVariable (const juce::String& name, const juce::String& value);
void removeEnvironmentVariable (const juce::String& name);

// The folder below which the log keeps its own folder: JUCE's system log folder, except that on
// Windows a set APPDATA wins. JUCE asks the Windows shell there, which ignores the variable, so
// without this nothing could move the folder the way HOME moves it on Linux and macOS.
juce::File getApplicationDataFolder();

// Points the user's folders that this program writes below (home, application data) into `home`,
// an existing folder, so that tests and tools never touch the real ones.
void moveUserFoldersInto (const juce::File& home);
} // namespace vfu
