#pragma once

#include "definitions/FirmwareUpdater.h"

#include <set>
#include <vector>

// The ways a loaded state machine can move from one state to another, as the engine takes them.
// `vfu lint` checks them and `vfu graph` draws them.
namespace vfu::definitions
{
using State = FirmwareUpdater::StatesMachine::State;

// The poll results that one poll in the polling mode can return (Aborted left out: it never
// triggers a transition). Empty for a mode that polls nothing ("none").
std::set<PollResult> getResultsOfPollingMode (PollingMode mode);

// Whether a SendSysEx sends a firmware image, rather than the erase or panel update command.
bool isFirmwareTransfer (const State::SendSysExInstruction& instruction);

// The messageKinds of every firmware transfer of the machine (Check bodies included), each once:
// the images a package must hold to be sent whole.
juce::StringArray getFirmwareImageKinds (const FirmwareUpdater::StatesMachine& machine);

// The results that can reach the state's own PollingState list: its polling mode's, and those of
// a post-send polling in "MIDI Device inquiry 2", which the engine matches with the state's list.
std::set<PollResult> getResultsForStateList (const State& state);

// The results that can reach a SendSysEx's own list: NoDevice from a connection break during a
// firmware transfer, and those of the post-send polling in "MIDI Device inquiry" or "MIDI ports".
std::set<PollResult> getResultsForTransferList (const State::SendSysExInstruction& instruction);

// Whether the state can time out: it polls in its own mode or after a firmware transfer.
bool canTimeOut (const State& state);

// The name the state times out to: its own timeoutState attribute when it has one (even an empty
// one), else the updater's.
juce::String getTimeoutTarget (const FirmwareUpdater& updater, const State& state);

enum class TransitionKind
{
    pollResult,    // an entry of the state's PollingState list
    afterTransfer, // an entry of a SendSysEx's PollingState list
    gotoState,     // a GotoState instruction
    button,        // a Button's gotoState, taken when the user presses it
    timeout        // the state's time-out
};

struct Transition
{
    juce::String from;
    juce::String to;
    TransitionKind kind = TransitionKind::pollResult;
    juce::String label;       // the result's name, the button's caption, the Check that holds a GotoState
    bool takeable = true;     // false when the engine never takes it (see listTransitions)
    bool targetExists = true; // false when `to` names no state: the engine then stays where it is
};

// Every transition of the updater's machine, state by state in the model's order, each state's in
// instruction order. Not takeable: a poll result that the polling never produces, a button the
// panel does not have, a Button inside a Check (a press reads only the state's own instructions),
// a GotoState in a Check whose condition the engine does not know.
std::vector<Transition> listTransitions (const FirmwareUpdater& updater);
} // namespace vfu::definitions
