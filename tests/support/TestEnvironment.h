#pragma once

#include <juce_core/juce_core.h>

namespace vfu::test
{
// The fresh temporary folder that HOME (and APPDATA on Windows) points into for this test process;
// the test main creates it before anything asks for the user's folders, so no test writes to the
// real ones.
juce::File getTemporaryHome();

// A new empty folder below the temporary home, for one test's files.
juce::File createTemporaryFolder (const juce::String& prefix);

// The test data folder of the repository (tests/data).
juce::File getTestDataFolder();
} // namespace vfu::test
