#pragma once

#include <juce_core/juce_core.h>

#include "definitions/PollingMode.h"
#include "engine/FirmwareUpdaterCallback.h"
#include "engine/ReportChannel.h"
#include "engine/UpdateGuard.h"
#include "engine/UpdaterEnvironment.h"
#include "midi/PollResult.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class MIDIPortsSelector;

namespace vfu
{
class Clock;
class FirmwarePackageStore;
class SysexSender;
struct CheckedImages;
} // namespace vfu

// One device model's update: the definition loaded from a definition document (the model below,
// read-only after construction), the engine that runs it on its own thread, and the firmware
// packages it can send.
//
// The concerns live in separate files: DefinitionLoader.cpp (construction and loading),
// FirmwareUpdaterEngine.cpp (run and the panel's operations), FirmwareUpdaterSysex.cpp
// (SendSysEx), FirmwareUpdaterPackages.cpp (the package table), FirmwareUpdaterGuard.cpp (the
// guarded phase and the notice of an instrument left waiting for firmware).
class FirmwareUpdater : public juce::Thread
{
public:
    // A rejected definition document; the message is the complete text to show the user.
    class FirmwareUpdaterException
    {
    public:
        explicit FirmwareUpdaterException (juce::String messageText) : message (std::move (messageText)) {}

        juce::String message;
    };

    // Poll result to target state name; the first entry written for a result wins.
    using PollingStateList = std::map<PollResult, juce::String>;

    class StatesMachine
    {
    public:
        class State
        {
        public:
            class InstructionVisitor;

            // One instruction of a state; `vfu::visit` (InstructionVisit.h) tells the kinds apart.
            class Instruction
            {
            public:
                virtual ~Instruction() = default;
                virtual void accept (InstructionVisitor& visitor) const = 0;
            };

            using InstructionList = std::vector<std::unique_ptr<Instruction>>;

            class TextFieldInstruction final : public Instruction
            {
            public:
                TextFieldInstruction (juce::String name, juce::String text, bool visible);
                ~TextFieldInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String name;
                juce::String text;
                bool visible;
            };

            class ButtonInstruction final : public Instruction
            {
            public:
                ButtonInstruction (juce::String name, juce::String text, juce::String state, juce::String gotoState);
                ~ButtonInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String name;
                juce::String text;
                juce::String state;
                juce::String gotoState;
            };

            class PrintInstruction final : public Instruction
            {
            public:
                explicit PrintInstruction (juce::String text);
                ~PrintInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String text;

                // Reported with the text: true when the text is exactly "true". The panel ignores it.
                bool getFlag() const { return text == "true"; }
            };

            class SendSysExInstruction final : public Instruction
            {
            public:
                // Applies the value rules: a packet size below 32 becomes 256 and one above 256 becomes
                // 256; a wait time of 0 or less becomes 0.5.
                SendSysExInstruction (juce::String messageKind, juce::String endPollingMode, int packetSize,
                                      float waitTime);
                ~SendSysExInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String messageKind;
                juce::String endPollingMode; // the document's text, as reports print it
                PollingMode endPolling;      // that text read
                int packetSize;
                float waitTime;
                PollingStateList pollingStates;
            };

            class WaitInstruction final : public Instruction
            {
            public:
                // A time of 0 or less is stored as 0.
                explicit WaitInstruction (float time);
                ~WaitInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                float time;
            };

            class GotoStateInstruction final : public Instruction
            {
            public:
                explicit GotoStateInstruction (juce::String state);
                ~GotoStateInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String state;
            };

            class CheckInstruction final : public Instruction
            {
            public:
                CheckInstruction (juce::String name, bool value);
                ~CheckInstruction() override = default;
                void accept (InstructionVisitor& visitor) const override;

                juce::String name;
                bool value;
                InstructionList instructions;
            };

            // One call per instruction kind; each does nothing unless overridden.
            class InstructionVisitor
            {
            public:
                virtual ~InstructionVisitor() = default;
                virtual void visit (const TextFieldInstruction&) {}
                virtual void visit (const ButtonInstruction&) {}
                virtual void visit (const PrintInstruction&) {}
                virtual void visit (const SendSysExInstruction&) {}
                virtual void visit (const WaitInstruction&) {}
                virtual void visit (const GotoStateInstruction&) {}
                virtual void visit (const CheckInstruction&) {}
            };

            explicit State (juce::String name);
            virtual ~State() = default;

            // The attribute's value, or the empty text when the state has no such attribute.
            juce::String getAttribute (const juce::String& attributeName) const;
            bool hasAttribute (const juce::String& attributeName) const;

            juce::String name;
            std::map<juce::String, juce::String> attributes;
            PollingMode pollingMode = PollingMode::absent; // the pollingMode attribute read
            InstructionList instructions;
            PollingStateList pollingStates;

            JUCE_DECLARE_NON_COPYABLE (State)
        };

        explicit StatesMachine (juce::String initialStateName);
        virtual ~StatesMachine() = default;

        // The state of that exact name, or null.
        State* getState (const juce::String& stateName) const;

        juce::String initialStateName;
        std::map<juce::String, std::unique_ptr<State>> states;

        JUCE_DECLARE_NON_COPYABLE (StatesMachine)
    };

    using State = StatesMachine::State;
    using MachineKey = std::pair<juce::String, bool>;

    // Loads the definition for deviceName and consoleMode from a document file or text, then
    // collects the firmware packages in the search folders (and the program file). Throws
    // FirmwareUpdaterException for a bad document. The thread is not started.
    FirmwareUpdater (const juce::File& definitionFile, const juce::String& deviceName, bool consoleMode,
                     FirmwareUpdaterCallback* callback, const juce::Array<juce::File>& firmwareSearchFolders,
                     const vfu::UpdaterEnvironment& environment = {});

    FirmwareUpdater (const juce::String& definitionText, const juce::String& deviceName, bool consoleMode,
                     FirmwareUpdaterCallback* callback, const juce::Array<juce::File>& firmwareSearchFolders,
                     const vfu::UpdaterEnvironment& environment = {});

    // Stops the engine thread (5000 ms), then releases the model and the packages.
    ~FirmwareUpdater() override;

    // The engine.
    void run() override;

    // ----- The loaded definition (read-only after construction) -----
    const juce::String& getDeviceName() const noexcept { return deviceName; }
    juce::uint16 getMidiDeviceId() const noexcept { return midiDeviceId; }
    bool getConsoleMode() const noexcept { return consoleMode; }
    const juce::String& getFileNamePattern() const noexcept { return fileNamePattern; }
    bool getSha256Check() const noexcept { return sha256Check; }
    int getTimeout() const noexcept { return timeout; }
    const juce::String& getTimeoutState() const noexcept { return timeoutState; }
    const std::map<MachineKey, std::unique_ptr<StatesMachine>>& getMachines() const noexcept { return machines; }

    // The machine for this updater's device name and console mode, or null.
    const StatesMachine* getMachine() const;

    // ----- Operations of the panel (message thread) -----
    void buttonPressed (const juce::String& buttonName);
    void restartFromInitialState();

    // ----- Firmware packages -----
    juce::StringArray getFirmwareVersions() const;
    juce::String getLatestFirmwareVersion() const;
    bool setFirmwareVersion (const juce::String& versionText);
    vfu::FirmwarePackageStore& getPackageStore() const noexcept { return *packages; }

    // ----- For tests and tools -----
    MIDIPortsSelector& getPortsSelector() const noexcept { return portsSelector; }
    vfu::Clock& getClock() const noexcept { return clock; }
    double getProgress() const noexcept { return progress.load(); }
    // The name of the state last entered, or empty before the first entry and after a restart.
    juce::String getCurrentStateName() const;
    // How many state entries have run their whole instruction list since construction.
    int getCompletedStateEntries() const noexcept { return completedStateEntries.load(); }

    // True during the guarded phase: from just before the erase (or the first image, for a machine
    // that sends no erase) until the update's verdict. Any thread.
    bool isGuarded() const noexcept { return guard.isGuarded(); }

private:
    FirmwareUpdater (const juce::String& deviceName, bool consoleMode, FirmwareUpdaterCallback* callback,
                     const vfu::UpdaterEnvironment& environment);

    // ----- Definition loading (DefinitionLoader.cpp) -----
    void loadDefinitions (juce::XmlDocument& document);
    void collectPackages (const juce::Array<juce::File>& firmwareSearchFolders, const juce::File& programFile);

    // ----- Definition fields -----
    juce::String deviceName;
    juce::uint16 midiDeviceId = 0;
    bool consoleMode = false;
    juce::String fileNamePattern;
    bool sha256Check = false;
    int timeout = -1;
    juce::String timeoutState;
    std::map<MachineKey, std::unique_ptr<StatesMachine>> machines;

    // ----- Environment -----
    FirmwareUpdaterCallback* const callback;
    MIDIPortsSelector& portsSelector;
    vfu::Clock& clock;

    // ----- Packages (FirmwarePackageStore.cpp) -----
    std::unique_ptr<vfu::FirmwarePackageStore> packages;

    // ----- Engine (FirmwareUpdaterEngine.cpp, FirmwareUpdaterSysex.cpp) -----
    // State hand-over between the engine thread and the message thread. A restart makes the
    // current state none; the engine's own moves only apply while the current state is still the
    // state it is running, so a restart cannot be overwritten by a late transition.
    const State* getCurrentState() const;
    const State* getPendingState() const;
    bool isStillIn (const State& state) const;
    void movePendingState (const State& from, const State* target);
    void movePendingState (const State& from, const juce::String& targetName);
    juce::String takeRequestedState();
    juce::String peekRequestedState() const; // the request, left in place
    bool hasRequestedState() const;

    bool enterState (const State& state);
    void executeInstructions (const State& state, const State::InstructionList& instructions);
    void runPollingLoop (const State& state, PollingMode mode);
    PollResult pollOnce (PollingMode mode, bool& polled);
    void applyTransition (const State& state, PollResult result, const PollingStateList& transitions);
    // After a pass that found nothing to ask and left `state` as it was: waits until a port change,
    // a request or a stop, or the state's time-out (bounded by a recheck of the ports).
    void waitForPortChange (const State& state);
    // With no state to enter: waits for a request, a restart or a stop.
    void waitWithNothingPending();
    // For one run: stops and MIDI port changes signal wakeEvent (FirmwareUpdaterEngine.cpp).
    class WakeOnChanges;
    void paceEntryWithoutPause();
    void countEntryWithoutPause (const State& state, juce::int64 entryStart);

    void sendSysEx (const State& state, const State::SendSysExInstruction& instruction);
    // `beforeSending` runs once the output is open, right before the message goes out.
    void sendCommand (const juce::String& messageKind, std::initializer_list<juce::uint8> body,
                      const std::function<void()>& beforeSending = {});
    void warnOfOtherPrograms();
    // Shows or withdraws the port-in-use line when the ports another program holds change
    // (FirmwareUpdaterPorts.cpp); engine thread.
    void reportPortsInUse();
    void waitAfterErase();
    // The firmware transfer, step by step.
    struct TransferOutcome;
    void transferFirmware (const State& state, const State::SendSysExInstruction& instruction);
    bool takeImageToSend (const State& state, const State::SendSysExInstruction& instruction, juce::String& entryName,
                          juce::MemoryBlock& image);
    TransferOutcome sendImage (const State::SendSysExInstruction& instruction, const juce::String& entryName,
                               juce::MemoryBlock image);
    TransferOutcome watchTransfer (vfu::SysexSender& sender, const State::SendSysExInstruction& instruction,
                                   const juce::String& entryName, size_t imageSize);
    PollResult checkTransferConnection (const vfu::SysexSender& sender, const juce::String& entryName);
    int reportTransferProgress (const juce::String& entryName, const State::SendSysExInstruction& instruction,
                                size_t imageSize, juce::uint32 sent, int lastPercentage);
    void moveAfterTransfer (const State& state, const State::SendSysExInstruction& instruction,
                            const TransferOutcome& outcome);
    void pollAfterSending (const State& state, const State::SendSysExInstruction& instruction);
    // Reads and checks every image of the selected package into checkedImages; false (logged after
    // logPrefix, checkedImages unchanged) when that fails.
    bool readCheckedImages (const juce::String& logPrefix);
    void imageUnavailableAfterCheck (const State& state, const State::SendSysExInstruction& instruction,
                                     const juce::String& why);
    void runPostSendPolling (const State& state, const State::SendSysExInstruction& instruction);

    void reportStateChanged (const juce::String& previousState, const juce::String& newState);
    void reportTextFieldChanged (const juce::String& name, const juce::String& text, bool visible);
    void reportButtonChanged (const juce::String& name, const juce::String& text, bool enabled);
    void reportPrintMessage (const juce::String& text, bool flag);
    void reportProgressChanged (double fraction);
    void reportWarningShown (const juce::String& text);
    void reportGuardChanged (bool guarded);
    void reportNoticeChanged (FirmwareUpdaterCallback::Notice which, const juce::String& text);
    void reportTimeLeftChanged (double secondsLeft);

    // ----- The guarded phase (FirmwareUpdaterGuard.cpp) -----
    void beginGuard();
    void noteStateEntered (const State& state, bool afterNoState);
    void endGuardAtVerdict();
    bool isVerdictState (const State& state) const;
    void noteInquiryResult (PollResult result);

    const StatesMachine* runningMachine = nullptr;
    mutable std::mutex stateLock; // guards currentState and pendingState
    const State* currentState = nullptr;
    const State* pendingState = nullptr;
    mutable std::mutex requestLock; // guards requestedState
    juce::String requestedState;
    std::atomic<juce::int64> stateEntryTime{ 0 };
    std::atomic<double> progress{ 0.0 };
    std::atomic<int> completedStateEntries{ 0 };
    juce::StringArray reportedPortsInUse; // engine thread only
    int entriesWithoutPause = 0;          // engine thread only

    // The images read and checked before the erase (or by the first transfer since the initial
    // state), which the transfers send; null until then and again in the initial state. Engine
    // thread only.
    std::unique_ptr<vfu::CheckedImages> checkedImages;

    // Wakes the engine from its idle passes when a request or a restart arrives.
    juce::WaitableEvent wakeEvent;
    // Whether the MIDI layer signals wakeEvent when its ports change; set at the start of a run.
    // Engine thread only.
    bool layerReportsPortChanges = false;

    // Carries reports onto the message thread; closed by the destructor so that no late report
    // reaches the callback.
    vfu::ReportChannel reports;

    vfu::UpdateGuard guard;
    bool verdictPending = false;                    // engine thread: the state entered is the verdict
    std::atomic<bool> firmwareOverwritten{ false }; // an erase (or image) went out in this updater's life
    bool firmwareAnswered = false;                  // engine thread: the firmware answered an inquiry
    bool waitingNoticeShown = false;                // engine thread

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpdater)
};
