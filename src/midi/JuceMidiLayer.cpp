#include "midi/JuceMidiLayer.h"

#include "midi/AlsaSequencerOutput.h"
#include "midi/WinMmOutput.h"

#if JUCE_LINUX
#include <alsa/asoundlib.h>
#include <cstdarg>
#endif

namespace vfu
{
namespace
{
// Passes a JUCE callback on to a MidiReceiver with the name under which the port was listed (JUCE
// gives the system's name, which two ports may share).
class ReceiverAdapter final : public juce::MidiInputCallback
{
public:
    ReceiverAdapter (MidiReceiver& r, const juce::String& name) : receiver (r), listedName (name) {}

    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
    {
        receiver.handleIncomingMidi (listedName, message);
    }

private:
    MidiReceiver& receiver;
    const juce::String listedName;
};

class JuceInputConnection final : public MidiInputConnection
{
public:
    JuceInputConnection (std::unique_ptr<juce::MidiInput> in, std::unique_ptr<ReceiverAdapter> a,
                         const juce::String& name)
        : adapter (std::move (a)), input (std::move (in)), listedName (name)
    {
    }

    ~JuceInputConnection() override
    {
        input->stop();
        input.reset(); // before the adapter it calls
    }

    void start() override { input->start(); }
    void stop() override { input->stop(); }
    juce::String getName() const override { return listedName; }

private:
    std::unique_ptr<ReceiverAdapter> adapter;
    std::unique_ptr<juce::MidiInput> input;
    const juce::String listedName;
};

class JuceOutputConnection final : public MidiOutputConnection
{
public:
    JuceOutputConnection (std::unique_ptr<juce::MidiOutput> out, const juce::String& name)
        : output (std::move (out)), listedName (name)
    {
    }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        // JUCE's outputs say nothing of what became of a message.
        output->sendMessageNow (message);
        return MidiSendResult::sent;
    }
    juce::String getName() const override { return listedName; }

private:
    std::unique_ptr<juce::MidiOutput> output;
    const juce::String listedName;
};

#if JUCE_LINUX
// ALSA prints a line to standard error each time the sequencer fails to open, which JUCE attempts
// at every listing; the layer reports that state once in the log instead. Everything else ALSA
// reports is printed as its default handler would.
void alsaErrorHandler (const char* file, int line, const char* function, int error, const char* format, ...)
{
    if (function != nullptr && juce::String (function) == "snd_seq_hw_open")
        return;

    std::fprintf (stderr, "ALSA lib %s:%i:(%s) ", file, line, function);
    va_list arguments;
    va_start (arguments, format);
    std::vfprintf (stderr, format, arguments);
    va_end (arguments);
    if (error != 0)
        std::fprintf (stderr, ": %s", snd_strerror (error));
    std::fputc ('\n', stderr);
}
#endif
} // namespace

JuceMidiSystem::JuceMidiSystem()
{
#if JUCE_LINUX
    static const bool installed = [] { return snd_lib_error_set_handler (alsaErrorHandler) == 0; }();
    juce::ignoreUnused (installed);
#endif
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getInputs()
{
    return juce::MidiInput::getAvailableDevices();
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getOutputs()
{
    return juce::MidiOutput::getAvailableDevices();
}

std::unique_ptr<MidiInputConnection> JuceMidiSystem::openInput (const juce::String& identifier,
                                                                const juce::String& listedName, MidiReceiver& receiver)
{
    auto adapter = std::make_unique<ReceiverAdapter> (receiver, listedName);
    auto input = juce::MidiInput::openDevice (identifier, adapter.get());
    if (input == nullptr)
        return {};

    return std::make_unique<JuceInputConnection> (std::move (input), std::move (adapter), listedName);
}

std::unique_ptr<MidiOutputConnection> JuceMidiSystem::openOutput (const juce::String& identifier,
                                                                  const juce::String& listedName)
{
#if JUCE_LINUX
    // JUCE's ALSA output cannot send a SysEx message in pieces (see AlsaSequencerOutput.h).
    return openAlsaSequencerOutput (identifier, listedName);
#elif JUCE_WINDOWS
    // JUCE's WinMM output sends short pieces as short messages and cannot report a failure (see WinMmOutput.h).
    return openWinMmOutput (identifier, listedName);
#else
    auto output = juce::MidiOutput::openDevice (identifier);
    if (output == nullptr)
        return {};

    return std::make_unique<JuceOutputConnection> (std::move (output), listedName);
#endif
}

bool JuceMidiSystem::isAvailable (juce::String& problem)
{
#if JUCE_LINUX
    snd_seq_t* handle = nullptr;
    const int error = snd_seq_open (&handle, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (error < 0)
    {
        problem = "the ALSA sequencer cannot be opened: " + juce::String (snd_strerror (error));
        return false;
    }
    snd_seq_close (handle);
#else
    juce::ignoreUnused (problem);
#endif
    return true;
}
} // namespace vfu
