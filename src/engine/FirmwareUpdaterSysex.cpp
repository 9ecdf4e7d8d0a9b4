// SendSysEx: the erase and panel update commands, and the paced firmware transfer.
#include "definitions/FirmwareUpdater.h"

#include "core/Log.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/UpdateObserver.h"
#include "core/Clock.h"
#include "packages/FirmwarePackageStore.h"
#include "engine/SysexSender.h"

namespace
{
// The erase wait: up to 100 sleeps of 100 ms, ended early by a requested state.
constexpr int eraseWaitSleeps = 100;
constexpr int eraseWaitSleepMs = 100;

// How long the engine waits for the sender to stop, in real milliseconds; shorter when the engine
// itself is being stopped, so that its own stop time-out holds even with a blocked output.
constexpr int senderStopTimeoutMs = 4000;
constexpr int senderStopTimeoutWhileExitingMs = 500;

// Longest real pause between two passes of the transfer watching loop.
constexpr int watchPassMilliseconds = 20;

// Why the images could not be read and checked, for the log line after `prefix`.
juce::String describeReadFailure (vfu::FirmwarePackageStore::ImageReadResult result, const juce::String& detail)
{
    using ReadResult = vfu::FirmwarePackageStore::ImageReadResult;
    switch (result)
    {
        case ReadResult::noPackageSelected:
            return "no firmware package selected";
        case ReadResult::packageUnreadable:
            return "the selected package can no longer be read";
        case ReadResult::packageCheckFailed:
        case ReadResult::entryMissing:
        case ReadResult::entryUnreadable:
            return "the selected package no longer passes its check" +
                   (detail.isNotEmpty() ? " (" + detail + ")" : juce::String());
        case ReadResult::ok:
            break;
    }
    return {};
}
// The pauses still to come, in seconds of the updater's clock: the sender's pacing depends only on
// the bytes left, so they are the pauses of an image of that many bytes.
double getSecondsLeft (size_t imageSize, juce::uint32 sent,
                       const FirmwareUpdater::State::SendSysExInstruction& instruction)
{
    const auto left = (int) juce::jmin<size_t> (imageSize - juce::jmin<size_t> (imageSize, sent),
                                                (size_t) std::numeric_limits<int>::max());
    return (double) vfu::SysexSender::getTotalPauseMilliseconds (left, instruction.packetSize, instruction.waitTime) /
           1000.0;
}
} // namespace

void FirmwareUpdater::sendSysEx (const State& state, const State::SendSysExInstruction& instruction)
{
    const auto id = (juce::uint8) (midiDeviceId & 0x7f);

    if (instruction.messageKind == "erase")
    {
        // The erase goes out only once every image the transfers after it will send has been read
        // and checked: an erased instrument with no image to receive is the worst outcome. A
        // machine that sends no image needs no package for its erase.
        if (!packages->getRequiredImages().isEmpty() && !readCheckedImages ("SendSysEx 'erase' : not sent, "))
            return;

        sendCommand (instruction.messageKind, { 0x04, id, 0x11 },
                     [this]
                     {
                         warnOfOtherPrograms();
                         beginGuard();
                     });
        waitAfterErase();
    }
    else if (instruction.messageKind == "panel update state")
    {
        sendCommand (instruction.messageKind, { 0x04, id, 0x31, 0x00 });
    }
    else
    {
        transferFirmware (state, instruction);
    }
}

void FirmwareUpdater::sendCommand (const juce::String& messageKind, std::initializer_list<juce::uint8> body,
                                   const std::function<void()>& beforeSending)
{
    auto output = portsSelector.openSelectedOutput();
    reportPortsInUse(); // an output another program holds: nothing goes out, and the user is told why
    if (output == nullptr)
    {
        writeLog ("SendSysEx '" + messageKind + "' : no MIDI output to send on");
        return;
    }

    if (beforeSending)
        beforeSending();

    const juce::Array<juce::uint8> bytes (body);
    output->sendMessageNow (juce::MidiMessage::createSysExMessage (bytes.getRawDataPointer(), bytes.size()));
}

// A program that sends clock or notes to an instrument while its bootloader erases and receives the
// new image can upset the update. Nothing is blocked: the user is told, and the log says it too.
void FirmwareUpdater::warnOfOtherPrograms()
{
    const auto programs = portsSelector.getOtherProgramsConnectedToChosenPorts();
    if (programs.isEmpty())
        return;

    const auto names = programs.joinIntoString (", ");
    writeLog ("Other programs are connected to the instrument's MIDI ports: " + names);
    reportWarningShown ("Warning: other programs are connected to the instrument (" + names +
                        "). If the update fails, close them and try again.");
}

void FirmwareUpdater::waitAfterErase()
{
    // The request is left for the polling loop to act on.
    for (int i = 0; i < eraseWaitSleeps; ++i)
    {
        if (!clock.sleepUnlessThreadExits (eraseWaitSleepMs) || hasRequestedState())
            return;
    }
}

// What watching a transfer found, for the move that follows it.
struct FirmwareUpdater::TransferOutcome
{
    bool connectionBroken = false;
    PollResult lastPollResult = PollResult::Aborted; // the port check that ended the watching
    double progress = 0.0;                           // the share of the image sent when it ended
};

// Finds the checked image, sends it, then moves on after the transfer.
void FirmwareUpdater::transferFirmware (const State& state, const State::SendSysExInstruction& instruction)
{
    juce::String entryName;
    juce::MemoryBlock image;

    if (!takeImageToSend (state, instruction, entryName, image))
        return;

    const auto outcome = sendImage (instruction, entryName, std::move (image));
    moveAfterTransfer (state, instruction, outcome);
}

// The first transfer since the initial state reads and checks the images itself when no erase
// did; from then on the transfers send those checked bytes. False when nothing is to be sent.
bool FirmwareUpdater::takeImageToSend (const State& state, const State::SendSysExInstruction& instruction,
                                       juce::String& entryName, juce::MemoryBlock& image)
{
    if (checkedImages == nullptr && !readCheckedImages ("SendSysEx '" + instruction.messageKind + "' : "))
        return false;

    const auto versionText = checkedImages->versionText;
    entryName = instruction.messageKind.replace ("$(version)", versionText) + ".syx";
    const auto checked = checkedImages->images.find (entryName);

    if (checked == checkedImages->images.end() || versionText != packages->getSelectedVersionText())
    {
        imageUnavailableAfterCheck (state, instruction,
                                    checked == checkedImages->images.end()
                                        ? "no entry '" + entryName + "' among the images checked"
                                        : "the selected version is no longer " + versionText +
                                              ", whose images were checked");
        return false;
    }

    image = checked->second;
    return true;
}

// Opens the output and sends the image on a sender thread, watched until it ends, breaks or a
// request arrives; without an output nothing is sent and nothing breaks. On return the output is
// closed and the image released, unless a sender that could not be stopped still holds them.
FirmwareUpdater::TransferOutcome FirmwareUpdater::sendImage (const State::SendSysExInstruction& instruction,
                                                             const juce::String& entryName, juce::MemoryBlock image)
{
    auto transfer = std::make_shared<vfu::SysexSender::Transfer>();
    transfer->image = std::move (image);
    transfer->output = portsSelector.openSelectedOutput();
    reportPortsInUse();
    progress = 0.0;

    if (transfer->output == nullptr)
        return {};

    // A recording layer is told which messages are pieces of the image.
    auto* observer = dynamic_cast<vfu::UpdateObserver*> (&portsSelector.getMidiLayer());
    if (observer != nullptr)
        observer->imageTransferStarting (entryName, transfer->image);

    // A machine that sends no erase overwrites the firmware with its first image.
    beginGuard();

    auto sender = std::make_unique<vfu::SysexSender> (transfer, instruction.waitTime, instruction.packetSize, clock);
    const auto outcome = watchTransfer (*sender, instruction, entryName, transfer->image.getSize());

    const auto stopTimeout = threadShouldExit() ? senderStopTimeoutWhileExitingMs : senderStopTimeoutMs;
    if (!vfu::SysexSender::stopAndRelease (std::move (sender), stopTimeout))
        writeLog ("Sender thread timed out waiting for exit!");

    if (observer != nullptr)
        observer->imageTransferEnded();

    return outcome;
}

FirmwareUpdater::TransferOutcome FirmwareUpdater::watchTransfer (vfu::SysexSender& sender,
                                                                 const State::SendSysExInstruction& instruction,
                                                                 const juce::String& entryName, size_t imageSize)
{
    TransferOutcome outcome;
    int lastPercentage = -1;

    // A sender that ended at once on a packet it could not send is watched once, to report that.
    bool watching = !sender.isFinished() || sender.getSendFailure() != vfu::MidiSendResult::sent;

    while (watching && !threadShouldExit())
    {
        // Read before the counter: when the sender had finished, this pass sees the final count
        // and reports it, so a completed transfer always ends with 100 %.
        const bool finishedBefore = sender.isFinished();

        const auto request = peekRequestedState();
        if (request.isNotEmpty())
        {
            writeLog ("Exit to _pendingState = '" + request + "' !!!");
            break;
        }

        const auto sent = sender.getBytesSent();

        // An empty image sends nothing and reports no progress.
        if (imageSize > 0)
        {
            outcome.progress = (double) sent / (double) imageSize;
            progress = outcome.progress;
            lastPercentage = reportTransferProgress (entryName, instruction, imageSize, sent, lastPercentage);
        }

        outcome.lastPollResult = checkTransferConnection (sender, entryName);
        if (outcome.lastPollResult != PollResult::DeviceDetected)
        {
            // Read again after the check: the packets sent while it ran count too.
            if (sender.getBytesSent() > 0)
                writeLog ("Connection break !!!");

            outcome.connectionBroken = true;
            break;
        }

        watching = outcome.progress < 1.0 && !finishedBefore;
        if (!watching)
            break;

        sender.waitForProgress (watchPassMilliseconds);
    }

    return outcome;
}

// A packet that could not be sent breaks the connection as a vanished port does: the instrument did
// not get the whole image, whatever the port lists say. Otherwise the chosen ports are checked.
PollResult FirmwareUpdater::checkTransferConnection (const vfu::SysexSender& sender, const juce::String& entryName)
{
    const auto sendFailure = sender.getSendFailure();
    if (sendFailure == vfu::MidiSendResult::sent)
        return portsSelector.checkSelectedPorts();

    writeLog ("Send '" + entryName + "' : a packet could not be sent (" +
              (sendFailure == vfu::MidiSendResult::destinationGone ? "its destination is gone" : "refused") + ")");
    return PollResult::NoDevice;
}

// Logs and reports a new whole percentage (the time left first: receivers show it with the
// progress step that follows); returns the percentage now shown.
int FirmwareUpdater::reportTransferProgress (const juce::String& entryName,
                                             const State::SendSysExInstruction& instruction, size_t imageSize,
                                             juce::uint32 sent, int lastPercentage)
{
    const auto fraction = (double) sent / (double) imageSize;
    const auto percentage = (int) (fraction * 100.0);

    if (percentage == lastPercentage)
        return lastPercentage;

    writeLog ("Send '" + entryName + "' : " + juce::String (percentage) + " %%");
    reportTimeLeftChanged (getSecondsLeft (imageSize, sent, instruction));
    reportProgressChanged (fraction);
    return percentage;
}

// A connection broken after some of the image went out moves by the SendSysEx's own list; a
// transfer that ended (or found no output) polls as its endPollingMode says.
void FirmwareUpdater::moveAfterTransfer (const State& state, const State::SendSysExInstruction& instruction,
                                         const TransferOutcome& outcome)
{
    if (!outcome.connectionBroken)
    {
        pollAfterSending (state, instruction);
        return;
    }

    if (outcome.progress > 0.0)
    {
        const auto entry = instruction.pollingStates.find (outcome.lastPollResult);
        if (entry != instruction.pollingStates.end())
            movePendingState (state, entry->second);
    }

    stateEntryTime = clock.now();
}

bool FirmwareUpdater::readCheckedImages (const juce::String& logPrefix)
{
    auto fresh = std::make_unique<vfu::CheckedImages>();
    juce::String detail;
    const auto result = packages->readSelectedImages (*fresh, &detail);

    if (result != vfu::FirmwarePackageStore::ImageReadResult::ok)
    {
        writeLog (logPrefix + describeReadFailure (result, detail));
        return false;
    }

    checkedImages = std::move (fresh);
    return true;
}

// The images were checked (and the instrument may be erased) but this one cannot go out: nothing
// is sent, the user is told, and the instrument's answer moves the machine on as after a transfer
// that found no output, instead of leaving it in its transfer state.
void FirmwareUpdater::imageUnavailableAfterCheck (const State& state, const State::SendSysExInstruction& instruction,
                                                  const juce::String& why)
{
    writeLog ("SendSysEx '" + instruction.messageKind + "' : not sent, " + why);
    reportWarningShown ("The firmware could not be sent (" + why +
                        "). The instrument may be waiting for its firmware: try the update again.");

    pollAfterSending (state, instruction);
}

// The time-out counts from the end of the transfer, and again from the end of the polling after it.
// A request made meanwhile is left for the state's polling loop.
void FirmwareUpdater::pollAfterSending (const State& state, const State::SendSysExInstruction& instruction)
{
    stateEntryTime = clock.now();

    if (!hasRequestedState() && instruction.endPolling != PollingMode::absent)
        runPostSendPolling (state, instruction);

    stateEntryTime = clock.now();
}

void FirmwareUpdater::runPostSendPolling (const State& state, const State::SendSysExInstruction& instruction)
{
    const auto mode = instruction.endPolling;

    // A mode that polls nothing could never leave this loop, and requests are not taken here.
    if (!vfu::definitions::pollsAfterTransfer (mode))
    {
        writeLog ("SendSysEx : endPollingMode '" + instruction.endPollingMode + "' polls nothing");
        return;
    }

    const auto& transitions =
        vfu::definitions::usesStateListAfterTransfer (mode) ? state.pollingStates : instruction.pollingStates;

    while (isStillIn (state))
    {
        if (threadShouldExit())
            return;

        const auto passStart = juce::Time::getMillisecondCounter();

        bool polled = false;
        applyTransition (state, pollOnce (mode, polled), transitions);
        reportPortsInUse();

        if (juce::Time::getMillisecondCounter() - passStart < 10u)
            waitForPortChange (state);
    }
}
