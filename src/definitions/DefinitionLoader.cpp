#include "definitions/FirmwareUpdater.h"

#include "definitions/DefinitionFile.h"
#include "definitions/DefinitionValues.h"
#include "definitions/DocumentNesting.h"
#include "definitions/DefinitionTransitions.h"

#include <cstring>
#include <limits>

#include "core/Log.h"
#include "core/Clock.h"
#include "packages/FirmwarePackageStore.h"
#include "core/TextFromBytes.h"
#include "midi/MIDIPortsSelector.h"

namespace
{
using StatesMachine = FirmwareUpdater::StatesMachine;
using State = StatesMachine::State;
using Exception = FirmwareUpdater::FirmwareUpdaterException;

// ----- The messages that reject a document (shown to the user as they are) -----

const char* const quitNote = "\nThe app will quit.";

const char* const rootMessage = "<FirmwareUpdaters> must be the root element.\n\nThe app will quit.";
const char* const deviceNameMessage = "deviceName argument is missing or empty.\n";

// Definition documents need no entities of their own; JUCE's reader expands them without a bound.
const char* const entityDeclarationMessage = "<!ENTITY> declarations are not supported.\n\nThe app will quit.";

const char* const communicationModeLine = "communicationMode argument is missing or empty.\n";
const char* const midiDeviceIdMissingLine = "MIDIDeviceID argument is missing or empty.\n";
const char* const fileNamePatternLine = "fileNamePattern argument is missing or empty.\n";
// The spelling "initinalState" is part of the fixed text.
const char* const initialStateLine = "initinalState argument is missing or empty.\n";
const char* const midiDeviceIdSizeLine = "MIDIDeviceID must have a size of 4 hexadecimal numbers.\n";
const char* const midiDeviceIdDigitsLine = "MIDIDeviceID must only contain hexadecimal numbers.\n";
const char* const timeoutLine = "timeout argument is missing or empty.\n";
const char* const timeoutStateLine = "timeoutState argument is missing or empty.\n";

juce::String modeText (bool consoleMode)
{
    return consoleMode ? "true" : "false";
}

juce::String duplicateUpdaterMessage (const juce::String& deviceName, bool consoleMode)
{
    return "Multiple <FirmwareUpdater> elements for '" + deviceName + "' with consoleMode = " + modeText (consoleMode) +
           ".\n\nThe app will quit.";
}

// The engine needs the requested definition, so a document without it is rejected like the others.
juce::String missingUpdaterMessage (const juce::String& deviceName, bool consoleMode)
{
    return "No <FirmwareUpdater> element for '" + deviceName + "' with consoleMode = " + modeText (consoleMode) +
           ".\n\nThe app will quit.";
}

const char* const missingStateNameMessage = "Missing or empty State name.\n\nThe app will quit.";

juce::String missingPollingModeMessage (const juce::String& stateName)
{
    return "State '" + stateName + "' : pollingMode attribute is missing.\n\nThe app will quit.";
}

juce::String duplicateStateMessage (const juce::String& stateName)
{
    return "State '" + stateName + "' is duplicated.\n\nThe app will quit.";
}

juce::String missingInitialStateMessage (const juce::String& initialState)
{
    return "initialState '" + initialState + "' does not exist.\n\nThe app will quit.";
}

juce::String missingTimeoutStateMessage (const juce::String& timeoutState)
{
    return "timeoutState '" + timeoutState + "' does not exist.\n\nThe app will quit.";
}

juce::String missingTransitionTargetMessage (const juce::String& stateName, const juce::XmlElement& pollingState)
{
    return "State '" + stateName + "' gotoState '" + pollingState.getStringAttribute ("gotoState") +
           "' in PollingState '" + pollingState.getStringAttribute ("value") +
           "' does not exist.\n\nThe app will quit.";
}

// The missing blank before "does" is part of the fixed text.
juce::String missingTransferTargetMessage (const juce::String& stateName, const juce::XmlElement& pollingState)
{
    return "State '" + stateName + "' gotoState '" + pollingState.getStringAttribute ("gotoState") +
           "' in PollingState '" + pollingState.getStringAttribute ("value") + "'does not exist.\n\nThe app will quit.";
}

// ----- Reading -----

// Text that is not valid UTF-8 (a sequence cut off at its end, say) makes JUCE's readers step past
// the end of it, the XML reader recurses once per level, so a hostile document nested deeply
// enough would end the program, and it loops forever on a processing instruction in content: all
// are rejected as malformed before the document is parsed.
void rejectUnreadableText (const juce::String& documentText)
{
    const auto* raw = documentText.toRawUTF8();
    if (!juce::CharPointer_UTF8::isValidString (raw, (int) std::strlen (raw)))
        throw Exception (rootMessage);

    const auto markup = vfu::definitions::scanMarkup (documentText, vfu::definitions::maximumElementNesting);
    if (markup.nestedTooDeep || markup.instructionInContent)
        throw Exception (rootMessage);

    // An entity can hold itself (expanded until the stack ends) or elements nested beyond the limit.
    if (markup.entityDeclaration)
        throw Exception (entityDeclarationMessage);
}

// A file's text. JUCE reads a file that is not UTF-8 as Windows-1252 text, but its XML reader
// parses the file's own bytes as UTF-8 unchecked, so the bytes themselves are checked here.
juce::String readDocumentFile (const juce::File& definitionFile)
{
    juce::MemoryBlock bytes;
    juce::String refusal;
    if (!vfu::definitions::readDocumentFileBytes (definitionFile, bytes, refusal))
        throw Exception (refusal);

    const auto* data = static_cast<const char*> (bytes.getData());
    const auto size = bytes.getSize();

    const bool utf16 = size >= 2 && (juce::CharPointer_UTF16::isByteOrderMarkBigEndian (data) ||
                                     juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (data));
    if (!utf16 && size > 0 &&
        !juce::CharPointer_UTF8::isValidString (data,
                                                (int) juce::jmin (size, (size_t) std::numeric_limits<int>::max())))
        throw Exception (rootMessage);

    return vfu::textFromBytes (data, size);
}

constexpr int maximumTextContentLength = 1024;

// Text nodes between elements are not elements; iterating skips them.
template <typename Function> void forEachChildElement (const juce::XmlElement& parent, Function&& function)
{
    for (auto* child : parent.getChildIterator())
        if (!child->isTextElement())
            function (*child);
}

// Element names are matched exactly; the framework's hasTagName ignores case.
bool isElement (const juce::XmlElement& element, const char* tagName)
{
    return element.getTagName() == tagName;
}

// Records a transition unless one for the same poll result is already there: the first one wins.
void recordTransition (FirmwareUpdater::PollingStateList& list, const juce::XmlElement& pollingState)
{
    const auto result = vfu::definitions::readPollResult (pollingState.getStringAttribute ("value"));
    list.emplace (result, pollingState.getStringAttribute ("gotoState"));
}

bool namesState (const StatesMachine& machine, const juce::XmlElement& pollingState)
{
    return machine.getState (pollingState.getStringAttribute ("gotoState")) != nullptr;
}

// Values beyond what the engine keeps are clamped by the model; the log says so.
void logClampedValue (const State& state, const juce::XmlElement& element, const char* attributeName)
{
    const auto clamped =
        vfu::definitions::describeClampedValue (attributeName, element.getStringAttribute (attributeName));

    if (clamped.isNotEmpty())
        writeLog ("State '" + state.name + "' : " + element.getTagName() + " " + clamped);
}

std::unique_ptr<State::Instruction> parseSendSysEx (const juce::XmlElement& element, const StatesMachine& machine,
                                                    const State& state)
{
    logClampedValue (state, element, "waitTime");

    auto instruction = std::make_unique<State::SendSysExInstruction> (
        element.getStringAttribute ("messageKind"), element.getStringAttribute ("endPollingMode"),
        vfu::definitions::readInteger (element.getStringAttribute ("packetSize")),
        vfu::definitions::readDecimal (element.getStringAttribute ("waitTime")));

    // Only PollingState elements mean something inside a SendSysEx; anything else is ignored.
    forEachChildElement (element,
                         [&] (const juce::XmlElement& child)
                         {
                             if (!isElement (child, "PollingState"))
                                 return;

                             if (!namesState (machine, child))
                                 throw Exception (missingTransferTargetMessage (state.name, child));

                             recordTransition (instruction->pollingStates, child);
                         });

    return instruction;
}

// The instructions among the children of a State or Check, in document order. PollingState
// elements, wherever they stand in the state's tree, go to the state's own transitions.
State::InstructionList parseInstructions (const juce::XmlElement& element, const StatesMachine& machine, State& state)
{
    State::InstructionList instructions;

    forEachChildElement (
        element,
        [&] (const juce::XmlElement& child)
        {
            const auto tag = child.getTagName();

            if (tag == "TextField")
            {
                const auto text =
                    child.getStringAttribute ("text") + child.getAllSubText().substring (0, maximumTextContentLength);

                instructions.push_back (std::make_unique<State::TextFieldInstruction> (
                    child.getStringAttribute ("name"), text, child.getStringAttribute ("visible") != "false"));
            }
            else if (tag == "Button")
            {
                instructions.push_back (std::make_unique<State::ButtonInstruction> (
                    child.getStringAttribute ("name"), child.getStringAttribute ("text"),
                    child.getStringAttribute ("state"), child.getStringAttribute ("gotoState")));
            }
            else if (tag == "Print")
            {
                instructions.push_back (std::make_unique<State::PrintInstruction> (child.getStringAttribute ("text")));
            }
            else if (tag == "SendSysEx")
            {
                instructions.push_back (parseSendSysEx (child, machine, state));
            }
            else if (tag == "Wait")
            {
                logClampedValue (state, child, "time");
                instructions.push_back (std::make_unique<State::WaitInstruction> (
                    vfu::definitions::readDecimal (child.getStringAttribute ("time"))));
            }
            else if (tag == "GotoState")
            {
                instructions.push_back (
                    std::make_unique<State::GotoStateInstruction> (child.getStringAttribute ("state")));
            }
            else if (tag == "Check")
            {
                auto check = std::make_unique<State::CheckInstruction> (
                    child.getStringAttribute ("name"), vfu::definitions::readFlag (child.getStringAttribute ("value")));
                check->instructions = parseInstructions (child, machine, state);
                instructions.push_back (std::move (check));
            }
            else if (tag == "PollingState")
            {
                if (!namesState (machine, child))
                    throw Exception (missingTransitionTargetMessage (state.name, child));

                recordTransition (state.pollingStates, child);
            }
            else
            {
                writeLog ("Unknown instruction : " + tag);
            }
        });

    return instructions;
}

// Every attribute of a State element except its name, the first of equal names kept.
void readStateAttributes (const juce::XmlElement& element, State& state)
{
    for (int i = 0; i < element.getNumAttributes(); ++i)
    {
        const auto attributeName = element.getAttributeName (i);

        if (attributeName != "name")
            state.attributes.emplace (attributeName, element.getAttributeValue (i));
    }

    state.pollingMode = vfu::definitions::parsePollingMode (state.getAttribute ("pollingMode"));
}

// What one accepted FirmwareUpdater element gives.
struct UpdaterDefinition
{
    juce::uint16 midiDeviceId = 0;
    juce::String fileNamePattern;
    bool sha256Check = false;
    int timeout = -1;
    juce::String timeoutState;
    std::unique_ptr<StatesMachine> machine;
};

// The attribute checks of a FirmwareUpdater element, all of them, one line per failure.
juce::String checkUpdaterAttributes (const juce::XmlElement& updater, int timeout)
{
    const auto midiDeviceId = updater.getStringAttribute ("MIDIDeviceID");
    juce::String lines;

    if (updater.getStringAttribute ("communicationMode").isEmpty())
        lines << communicationModeLine;

    if (midiDeviceId.isEmpty())
        lines << midiDeviceIdMissingLine;

    if (updater.getStringAttribute ("fileNamePattern").isEmpty())
        lines << fileNamePatternLine;

    if (updater.getStringAttribute ("initialState").isEmpty())
        lines << initialStateLine;

    if (!vfu::definitions::isMidiDeviceIdLengthValid (midiDeviceId))
        lines << midiDeviceIdSizeLine;

    if (!vfu::definitions::isMidiDeviceIdAlphabetValid (midiDeviceId))
        lines << midiDeviceIdDigitsLine;

    if (timeout == -1)
        lines << timeoutLine;

    if (updater.getStringAttribute ("timeoutState").isEmpty())
        lines << timeoutStateLine;

    return lines;
}

// Reads, checks and builds the definition of one FirmwareUpdater element that matches the
// requested device and mode; throws at the first failed check.
UpdaterDefinition readUpdaterDefinition (const juce::XmlElement& updater, bool alreadyAccepted)
{
    UpdaterDefinition definition;

    const auto timeoutText = updater.getStringAttribute ("timeout");
    definition.fileNamePattern = updater.getStringAttribute ("fileNamePattern");
    definition.sha256Check = vfu::definitions::readFlag (updater.getStringAttribute ("SHA256Check"));
    definition.timeout = timeoutText.isEmpty() ? -1 : vfu::definitions::readInteger (timeoutText);
    definition.timeoutState = updater.getStringAttribute ("timeoutState");

    const auto failedChecks = checkUpdaterAttributes (updater, definition.timeout);

    if (failedChecks.isNotEmpty())
        throw Exception (failedChecks + quitNote);

    definition.midiDeviceId = vfu::definitions::readMidiDeviceId (updater.getStringAttribute ("MIDIDeviceID"));

    if (alreadyAccepted)
        throw Exception (
            duplicateUpdaterMessage (updater.getStringAttribute ("deviceName"),
                                     vfu::definitions::readFlag (updater.getStringAttribute ("consoleMode"))));

    const auto initialState = updater.getStringAttribute ("initialState");
    definition.machine = std::make_unique<StatesMachine> (initialState);
    auto& machine = *definition.machine;

    // First pass: every state exists before any reference to one is checked.
    forEachChildElement (updater,
                         [&machine] (const juce::XmlElement& element)
                         {
                             if (!isElement (element, "State"))
                                 return;

                             // getStringAttribute finds the first attribute of that name.
                             auto state = std::make_unique<State> (element.getStringAttribute ("name"));
                             readStateAttributes (element, *state);

                             if (state->name.isEmpty())
                                 throw Exception (missingStateNameMessage);

                             if (state->getAttribute ("pollingMode").isEmpty())
                                 throw Exception (missingPollingModeMessage (state->name));

                             if (machine.getState (state->name) != nullptr)
                                 throw Exception (duplicateStateMessage (state->name));

                             const auto stateName = state->name;
                             machine.states.emplace (stateName, std::move (state));
                         });

    if (machine.getState (initialState) == nullptr)
        throw Exception (missingInitialStateMessage (initialState));

    if (machine.getState (definition.timeoutState) == nullptr)
        throw Exception (missingTimeoutStateMessage (definition.timeoutState));

    // Second pass: the instructions and transitions of each state.
    forEachChildElement (updater,
                         [&machine] (const juce::XmlElement& element)
                         {
                             if (!isElement (element, "State"))
                                 return;

                             auto& state = *machine.getState (element.getStringAttribute ("name"));
                             state.instructions = parseInstructions (element, machine, state);
                         });

    return definition;
}
} // namespace

FirmwareUpdater::FirmwareUpdater (const juce::String& deviceNameToLoad, bool consoleModeToLoad,
                                  FirmwareUpdaterCallback* callbackToUse, const vfu::UpdaterEnvironment& environment)
    : juce::Thread ("FirmwareUpdater"), deviceName (deviceNameToLoad), consoleMode (consoleModeToLoad),
      callback (callbackToUse),
      portsSelector (environment.portsSelector != nullptr ? *environment.portsSelector
                                                          : MIDIPortsSelector::getProgramWideInstance()),
      clock (environment.clock != nullptr ? *environment.clock : vfu::Clock::getRealClock()),
      packages (std::make_unique<vfu::FirmwarePackageStore>()),
      guard (environment.holdPower, [this] (bool guarded) { reportGuardChanged (guarded); })
{
}

FirmwareUpdater::FirmwareUpdater (const juce::File& definitionFile, const juce::String& deviceNameToLoad,
                                  bool consoleModeToLoad, FirmwareUpdaterCallback* callbackToUse,
                                  const juce::Array<juce::File>& firmwareSearchFolders,
                                  const vfu::UpdaterEnvironment& environment)
    : FirmwareUpdater (deviceNameToLoad, consoleModeToLoad, callbackToUse, environment)
{
    // The text checked is the text parsed: the file is read once, so it cannot change in between.
    const auto text = readDocumentFile (definitionFile);
    rejectUnreadableText (text);

    juce::XmlDocument document (text);
    loadDefinitions (document);
    collectPackages (firmwareSearchFolders, environment.programFile);
}

FirmwareUpdater::FirmwareUpdater (const juce::String& definitionText, const juce::String& deviceNameToLoad,
                                  bool consoleModeToLoad, FirmwareUpdaterCallback* callbackToUse,
                                  const juce::Array<juce::File>& firmwareSearchFolders,
                                  const vfu::UpdaterEnvironment& environment)
    : FirmwareUpdater (deviceNameToLoad, consoleModeToLoad, callbackToUse, environment)
{
    rejectUnreadableText (definitionText);

    juce::XmlDocument document (definitionText);
    loadDefinitions (document);
    collectPackages (firmwareSearchFolders, environment.programFile);
}

void FirmwareUpdater::loadDefinitions (juce::XmlDocument& document)
{
    // Text content is used exactly as written, so white space alone is content too.
    document.setEmptyTextElementsIgnored (false);

    const auto root = document.getDocumentElement();

    if (root == nullptr || !isElement (*root, "FirmwareUpdaters"))
        throw Exception (rootMessage);

    forEachChildElement (*root,
                         [this] (const juce::XmlElement& updater)
                         {
                             if (!isElement (updater, "FirmwareUpdater"))
                                 return;

                             const auto name = updater.getStringAttribute ("deviceName");
                             const auto mode = vfu::definitions::readFlag (updater.getStringAttribute ("consoleMode"));

                             // Checked on every definition, whichever device is asked for.
                             if (name.isEmpty())
                                 throw Exception (juce::String (deviceNameMessage) + quitNote);

                             if (name != deviceName || mode != consoleMode)
                                 return;

                             auto definition = readUpdaterDefinition (updater, getMachine() != nullptr);

                             midiDeviceId = definition.midiDeviceId;
                             fileNamePattern = definition.fileNamePattern;
                             sha256Check = definition.sha256Check;
                             timeout = definition.timeout;
                             timeoutState = definition.timeoutState;
                             machines.emplace (MachineKey (deviceName, consoleMode), std::move (definition.machine));
                         });

    if (getMachine() == nullptr)
        throw Exception (missingUpdaterMessage (deviceName, consoleMode));
}

void FirmwareUpdater::collectPackages (const juce::Array<juce::File>& firmwareSearchFolders,
                                       const juce::File& programFile)
{
    // A package is only offered when it holds every image this model's machine sends.
    if (const auto* machine = getMachine())
        packages->setRequiredImages (vfu::definitions::getFirmwareImageKinds (*machine));

    packages->collect (programFile, firmwareSearchFolders);
}

const FirmwareUpdater::StatesMachine* FirmwareUpdater::getMachine() const
{
    const auto found = machines.find (MachineKey (deviceName, consoleMode));
    return found != machines.end() ? found->second.get() : nullptr;
}
