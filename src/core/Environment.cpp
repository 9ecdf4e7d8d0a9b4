#include "core/Environment.h"

#include <cstdlib>

namespace vfu
{
void setEnvironmentVariable (const juce::String& name, const juce::String& value)
{
#if JUCE_WINDOWS
    _putenv_s (name.toRawUTF8(), value.toRawUTF8());
#else
    setenv (name.toRawUTF8(), value.toRawUTF8(), 1);
#endif
}

void removeEnvironmentVariable (const juce::String& name)
{
#if JUCE_WINDOWS
    // An empty value removes the variable on Windows.
    _putenv_s (name.toRawUTF8(), "");
#else
    unsetenv (name.toRawUTF8());
#endif
}

juce::File getApplicationDataFolder()
{
#if JUCE_WINDOWS
    const auto appData = juce::SystemStats::getEnvironmentVariable ("APPDATA", {});
    if (juce::File::isAbsolutePath (appData))
        return juce::File (appData);
#endif
    return juce::FileLogger::getSystemLogFileFolder();
}

void moveUserFoldersInto (const juce::File& home)
{
    setEnvironmentVariable ("HOME", home.getFullPathName());
    removeEnvironmentVariable ("XDG_CONFIG_HOME");
    removeEnvironmentVariable ("XDG_DATA_HOME");
    removeEnvironmentVariable ("XDG_DESKTOP_DIR");

    // Where Windows keeps it below the user's profile.
    const auto appData = home.getChildFile ("AppData").getChildFile ("Roaming");
    appData.createDirectory();
    setEnvironmentVariable ("APPDATA", appData.getFullPathName());
}
} // namespace vfu
