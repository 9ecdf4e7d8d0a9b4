// vfu: checks definition documents, decodes replies, polls and updates simulated instruments,
// and builds and inspects firmware packages, all through the same core library as the app.
#include "CommandRegistry.h"

#include <juce_events/juce_events.h>

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    return vfu::tool::runCommandLine (argc, argv);
}
