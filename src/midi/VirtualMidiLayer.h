#pragma once

#include "midi/MidiSystem.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vfu
{
class Clock;

// MIDI ports served in-process: each port pair (an input and an output of the same name) belongs to
// a Device (a simulated instrument) or is silent and never answers. Used by the tests, the vfu tool
// and the demonstration mode in place of the operating system's MIDI services.
//
// What the host sends on an output reaches the device synchronously on the sending thread, with no
// lock of the layer held; what a device sends back is queued and delivered on the layer's own thread,
// as an operating system's MIDI thread would. A port pair that leaves the lists kills every connection
// opened on it: they deliver nothing more, and what is sent on them is dropped.
class VirtualMidiLayer final : public MidiLayer
{
public:
    class Device
    {
    public:
        virtual ~Device() = default;

        // A message the host sent on this device's output, exactly as sent (firmware packets are
        // fragments of one SysEx message).
        virtual void receiveFromHost (const juce::MidiMessage& message) = 0;
    };

    // `openOnMessageThread` makes the port selector open ports through the message thread, as with
    // the real layer, so that path can be exercised without MIDI hardware.
    explicit VirtualMidiLayer (Clock& clock, bool openOnMessageThread = false);
    ~VirtualMidiLayer() override;

    // Adds a port pair after those already there; without a device the pair is silent.
    void addPorts (const juce::String& name, std::unique_ptr<Device> device = {});

    template <typename DeviceType> DeviceType& addDevice (const juce::String& name, std::unique_ptr<DeviceType> device)
    {
        auto& ref = *device;
        addPorts (name, std::move (device));
        return ref;
    }

    // Makes a port pair leave the port lists (killing its open connections) or return to them.
    void setPortsPresent (const juce::String& name, bool present);
    bool arePortsPresent (const juce::String& name) const;

    // Declares the programs (by name) that are connected to the port pair of `name` besides the
    // updater, as a DAW would be; an empty list connects none.
    void setOtherProgramsConnected (const juce::String& name, const juce::StringArray& programs);

    // Makes another program hold the input or the output of `name` (or both) as WinMM gives a port to
    // one program at a time: opening it fails with that result ("MMSYSERR_ALLOCATED") until it is
    // freed with an empty result. Connections already open stay open.
    void setHeldByAnotherProgram (const juce::String& name, const juce::String& inputResult,
                                  const juce::String& outputResult);

    // Device to host: delivered after the delay (clock milliseconds) on the layer's thread to every
    // started input of that port, if the port pair has not left the lists in between.
    void sendToHost (const juce::String& name, const juce::MidiMessage& message, int delayMilliseconds = 0);

    // Runs a task on the layer's thread after the delay; tasks and deliveries keep their due order.
    void callAfter (int delayMilliseconds, std::function<void()> task);

    // What the host sent on the output of that name while it was present (for assertions).
    std::vector<juce::MidiMessage> getMessagesSentTo (const juce::String& name) const;
    int getNumMessagesSentTo (const juce::String& name) const;
    void clearSentMessages();

    // Inputs and outputs opened and not yet closed (a poll must leave none behind).
    int getNumOpenInputs() const;
    int getNumOpenOutputs() const;

    Clock& getClock() const noexcept { return clock; }

    // As a MIDI system shows it (see VirtualMidiSystem): the ports of `name` are listed under
    // `systemName`, which other ports may share, as two instruments of one model do.
    void setListedName (const juce::String& name, const juce::String& systemName);

    // Tells those waiting for a port change that the lists may differ (the system seen through
    // VirtualMidiSystem came or went).
    void notifyPortChange();

    // The present ports as a MIDI system lists them: the listed name, and the port's own name as
    // identifier.
    juce::Array<juce::MidiDeviceInfo> getListedPorts() const;

    // Opens the ports of that name (null when absent); the connection reports `reportedName`.
    std::unique_ptr<MidiInputConnection> openInputNamed (const juce::String& name, const juce::String& reportedName,
                                                         MidiReceiver& receiver, OpenRefusal* refusal = nullptr);
    std::unique_ptr<MidiOutputConnection> openOutputNamed (const juce::String& name, const juce::String& reportedName,
                                                           OpenRefusal* refusal = nullptr);

    // MidiLayer
    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    // Identifiers are the ports' own names.
    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override;
    std::unique_ptr<MidiInputConnection> openInput (int index, MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (int index) override;
    std::unique_ptr<MidiInputConnection> openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                            OpenRefusal& refusal) override;
    std::unique_ptr<MidiOutputConnection> openOutputOrSayWhy (int index, OpenRefusal& refusal) override;
    bool opensOnMessageThread() const override { return openOnMessageThread; }
    // Ports added, leaving or returning, and ports another program frees or takes are told at once.
    bool addPortChangeEvent (juce::WaitableEvent& event) override;
    void removePortChangeEvent (juce::WaitableEvent& event) override;

private:
    struct Port;
    class InputConnection;
    class OutputConnection;
    class DeliveryThread;

    Port* findPresentPort (int index);
    static bool isHeld (const Port& port, bool input, const juce::String& reportedName, OpenRefusal* refusal);
    std::unique_ptr<MidiInputConnection> openInputOn (Port& port, const juce::String& reportedName,
                                                      MidiReceiver& receiver);
    std::unique_ptr<MidiOutputConnection> openOutputOn (Port& port, const juce::String& reportedName);
    Port* findPort (const juce::String& name) const;
    juce::StringArray getPresentNames() const;
    void deliver (const juce::String& name, const juce::MidiMessage& message);
    MidiSendResult send (const juce::String& name, int generation, const juce::MidiMessage& message);

    Clock& clock;
    const bool openOnMessageThread;

    // Guards the ports, their presence and generations, the sent messages and the open inputs.
    mutable std::mutex portsLock;
    std::vector<std::unique_ptr<Port>> ports;
    std::vector<InputConnection*> inputs;
    std::atomic<int> openOutputs{ 0 };

    // Held while replies are handed to receivers, so that stopping an input waits for a delivery in
    // progress; recursive so that a receiver may stop an input from its callback.
    std::recursive_mutex deliveryLock;

    std::unique_ptr<DeliveryThread> deliveryThread;

    PortChangeNotices portChanges;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VirtualMidiLayer)
};

// A VirtualMidiLayer seen as a MIDI system, for the layer that the shipped app uses over the real
// one (SystemMidiLayer): listed names may repeat, and the whole system can be made unreachable.
class VirtualMidiSystem final : public MidiSystem
{
public:
    explicit VirtualMidiSystem (VirtualMidiLayer& layerToUse) : layer (layerToUse) {}

    // While unavailable the system lists no ports and opens nothing.
    void setAvailable (bool shouldBeAvailable)
    {
        available = shouldBeAvailable;
        layer.notifyPortChange();
    }

    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier, const juce::String& listedName,
                                                    MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                      const juce::String& listedName) override;
    std::unique_ptr<MidiInputConnection> openInputOrSayWhy (const juce::String& identifier,
                                                            const juce::String& listedName, MidiReceiver& receiver,
                                                            OpenRefusal& refusal) override;
    std::unique_ptr<MidiOutputConnection>
    openOutputOrSayWhy (const juce::String& identifier, const juce::String& listedName, OpenRefusal& refusal) override;
    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override;
    bool isAvailable (juce::String& problem) override;
    bool addPortChangeEvent (juce::WaitableEvent& event) override { return layer.addPortChangeEvent (event); }
    void removePortChangeEvent (juce::WaitableEvent& event) override { layer.removePortChangeEvent (event); }

private:
    VirtualMidiLayer& layer;
    std::atomic<bool> available{ true };
};
} // namespace vfu
