#include "definitions/FirmwareUpdater.h"

#include "definitions/DefinitionValues.h"
#include "definitions/PollingMode.h"

using State = FirmwareUpdater::StatesMachine::State;

State::TextFieldInstruction::TextFieldInstruction (juce::String nameToUse, juce::String textToShow,
                                                   bool shouldBeVisible)
    : name (std::move (nameToUse)), text (std::move (textToShow)), visible (shouldBeVisible)
{
}

State::ButtonInstruction::ButtonInstruction (juce::String nameToUse, juce::String caption, juce::String enabledState,
                                             juce::String stateToRequest)
    : name (std::move (nameToUse)), text (std::move (caption)), state (std::move (enabledState)),
      gotoState (std::move (stateToRequest))
{
}

State::PrintInstruction::PrintInstruction (juce::String textToPrint) : text (std::move (textToPrint)) {}

State::SendSysExInstruction::SendSysExInstruction (juce::String kind, juce::String pollingModeAfterTransfer,
                                                   int bytesPerPacket, float pauseTerm)
    : messageKind (std::move (kind)), endPollingMode (std::move (pollingModeAfterTransfer)),
      endPolling (vfu::definitions::parsePollingMode (endPollingMode)),
      packetSize ((bytesPerPacket < 32 || bytesPerPacket > 256) ? 256 : bytesPerPacket),
      // Written as "not greater than" so that a NaN also falls back to the default.
      waitTime (!(pauseTerm > 0.0f) ? 0.5f : juce::jmin (pauseTerm, vfu::definitions::longestPacketPauseMilliseconds))
{
}

State::WaitInstruction::WaitInstruction (float seconds)
    : time (!(seconds > 0.0f) ? 0.0f : juce::jmin (seconds, vfu::definitions::longestWaitSeconds))
{
}

State::GotoStateInstruction::GotoStateInstruction (juce::String stateToEnter) : state (std::move (stateToEnter)) {}

State::CheckInstruction::CheckInstruction (juce::String condition, bool expectedOutcome)
    : name (std::move (condition)), value (expectedOutcome)
{
}

void State::TextFieldInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::ButtonInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::PrintInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::SendSysExInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::WaitInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::GotoStateInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}
void State::CheckInstruction::accept (InstructionVisitor& visitor) const
{
    visitor.visit (*this);
}

State::State (juce::String stateName) : name (std::move (stateName)) {}

juce::String State::getAttribute (const juce::String& attributeName) const
{
    const auto found = attributes.find (attributeName);
    return found != attributes.end() ? found->second : juce::String();
}

bool State::hasAttribute (const juce::String& attributeName) const
{
    return attributes.find (attributeName) != attributes.end();
}

FirmwareUpdater::StatesMachine::StatesMachine (juce::String initialState) : initialStateName (std::move (initialState))
{
}

FirmwareUpdater::StatesMachine::State* FirmwareUpdater::StatesMachine::getState (const juce::String& stateName) const
{
    const auto found = states.find (stateName);
    return found != states.end() ? found->second.get() : nullptr;
}
