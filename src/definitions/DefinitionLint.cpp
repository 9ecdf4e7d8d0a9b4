#include "definitions/DefinitionLint.h"

#include "definitions/DefinitionTransitions.h"
#include "definitions/DefinitionValues.h"
#include "definitions/DocumentNesting.h"
#include "definitions/InstructionVisit.h"
#include "definitions/PanelFieldNames.h"
#include "packages/FirmwarePackageStore.h"

#include <algorithm>
#include <deque>
#include <map>

namespace vfu::definitions
{
namespace
{
using Machine = FirmwareUpdater::StatesMachine;

template <typename Function> void forEachChildElement (const juce::XmlElement& parent, Function&& function)
{
    for (auto* child : parent.getChildIterator())
        if (!child->isTextElement())
            function (*child);
}

// Each element of the parsed tree with the line its start tag stands on. The tree is visited
// parent first in document order, the order in which the start tags stand in the text; when the
// two disagree anywhere (they should not on a document the reader accepted), no line is known.
class ElementLines
{
public:
    ElementLines (const juce::XmlElement& root, const juce::String& documentText)
    {
        const auto tags = findStartTags (documentText);
        size_t next = 0;
        bool matches = true;

        auto pair = [&] (const juce::XmlElement& element)
        {
            if (next < tags.size() && tags[next].name == element.getTagName())
                lines[&element] = tags[next].line;
            else
                matches = false;

            ++next;
        };

        visit (root, pair);

        if (!matches || next != tags.size())
            lines.clear();
    }

    int getLine (const juce::XmlElement& element) const
    {
        const auto found = lines.find (&element);
        return found != lines.end() ? found->second : 0;
    }

private:
    template <typename Function> static void visit (const juce::XmlElement& element, Function& function)
    {
        function (element);
        forEachChildElement (element, [&function] (const juce::XmlElement& child) { visit (child, function); });
    }

    std::map<const juce::XmlElement*, int> lines;
};

juce::String quoted (const juce::String& text)
{
    return "'" + text + "'";
}

juce::String listResults (const std::set<PollResult>& results)
{
    juce::StringArray names;

    for (auto result : results)
        names.add (getPollResultValueName (result));

    return names.isEmpty() ? juce::String ("nothing") : names.joinIntoString (", ");
}

// The same FirmwareUpdater element that the loader accepted: the first with the device name and mode.
const juce::XmlElement* findUpdaterElement (const juce::XmlElement& root, const juce::String& deviceName,
                                            bool consoleMode)
{
    for (auto* child : root.getChildIterator())
        if (child->getTagName() == "FirmwareUpdater" && child->getStringAttribute ("deviceName") == deviceName &&
            readFlag (child->getStringAttribute ("consoleMode")) == consoleMode)
            return child;

    return nullptr;
}

class Linter
{
public:
    Linter (FirmwareUpdater& updaterToCheck, const ElementLines& elementLines, const LintOptions& lintOptions)
        : updater (updaterToCheck), machine (*updaterToCheck.getMachine()), lines (elementLines), options (lintOptions),
          moves (findMoves (updaterToCheck)), reachable (findReachableStates()),
          cycles (findCyclesWithoutPause (updaterToCheck))
    {
    }

    void lintState (const juce::XmlElement& stateElement)
    {
        const auto* state = machine.getState (stateElement.getStringAttribute ("name"));
        if (state == nullptr)
            return;

        lintStateAsAWhole (*state, stateElement);

        std::map<PollResult, int> firstLines;
        lintChildren (*state, stateElement, firstLines, getResultsForStateList (*state));
    }

    std::vector<LintWarning> takeWarnings()
    {
        std::stable_sort (warnings.begin(), warnings.end(),
                          [] (const LintWarning& a, const LintWarning& b) { return a.line < b.line; });
        return std::move (warnings);
    }

private:
    void warn (const char* code, const State& state, const juce::XmlElement& element, const juce::String& message)
    {
        warnings.push_back ({ code, state.name, element.getTagName(), lines.getLine (element), message });
    }

    bool isState (const juce::String& name) const { return machine.getState (name) != nullptr; }

    // The transitions the engine can take, from state name to state name, indexed by their source.
    static std::multimap<juce::String, juce::String> findMoves (const FirmwareUpdater& updaterToCheck)
    {
        std::multimap<juce::String, juce::String> found;

        for (const auto& transition : listTransitions (updaterToCheck))
            if (transition.takeable && transition.targetExists)
                found.emplace (transition.from, transition.to);

        return found;
    }

    std::set<juce::String> findReachableStates (const juce::String& start) const
    {
        std::set<juce::String> found{ start };
        std::deque<juce::String> queue{ start };

        while (!queue.empty())
        {
            const auto from = queue.front();
            queue.pop_front();

            const auto [first, last] = moves.equal_range (from);

            for (auto move = first; move != last; ++move)
                if (found.insert (move->second).second)
                    queue.push_back (move->second);
        }

        return found;
    }

    std::set<juce::String> findReachableStates() const { return findReachableStates (machine.initialStateName); }

    // Whether a state moves on as soon as its instructions have run, without a pause: the last
    // GotoState at its own level that names a state names another one (so it never polls nor waits
    // for a button), and no Wait of some time or SendSysEx (which waits or transfers) stands there.
    static bool movesOnAtOnce (const Machine& machine, const State& state)
    {
        juce::String target;
        bool pauses = false;

        for (const auto& instruction : state.instructions)
            vfu::visit (
                *instruction, [&pauses] (const State::WaitInstruction& wait) { pauses = pauses || wait.time > 0.0f; },
                [&pauses] (const State::SendSysExInstruction&) { pauses = true; },
                [&] (const State::GotoStateInstruction& gotoState)
                {
                    if (machine.getState (gotoState.state) != nullptr)
                        target = gotoState.state;
                });

        return !pauses && target.isNotEmpty() && target != state.name;
    }

    // The cycles that the engine can run through states that each move on at once, keyed by the
    // state that closes each: "'A' -> 'B' -> 'A'". At least one is named wherever such states lead
    // into each other.
    static std::map<juce::String, juce::String> findCyclesWithoutPause (const FirmwareUpdater& updaterToCheck)
    {
        const auto& machine = *updaterToCheck.getMachine();
        std::map<juce::String, std::vector<juce::String>> next, previous;

        for (const auto& transition : listTransitions (updaterToCheck))
            if (transition.kind == TransitionKind::gotoState && transition.takeable && transition.targetExists &&
                transition.to != transition.from && movesOnAtOnce (machine, *machine.getState (transition.from)) &&
                movesOnAtOnce (machine, *machine.getState (transition.to)))
            {
                next[transition.from].push_back (transition.to);
                previous[transition.to].push_back (transition.from);
            }

        // States whose moves all end somewhere are set aside, until every state left has a move to
        // another one left: from any of these, moves run into a cycle.
        std::map<juce::String, size_t> movesLeft;
        std::deque<juce::String> ending;

        for (const auto& [name, state] : machine.states)
        {
            movesLeft[name] = next[name].size();
            if (movesLeft[name] == 0)
                ending.push_back (name);
        }

        for (; !ending.empty(); ending.pop_front())
            for (const auto& from : previous[ending.front()])
                if (--movesLeft[from] == 0)
                    ending.push_back (from);

        std::map<juce::String, juce::String> found;
        std::set<juce::String> walked;

        for (const auto& [name, state] : machine.states)
        {
            std::vector<juce::String> path;
            std::map<juce::String, size_t> onPath;

            for (auto current = name; movesLeft[current] > 0 && walked.insert (current).second;)
            {
                onPath[current] = path.size();
                path.push_back (current);

                const auto& targets = next[current];
                const auto target = *std::find_if (targets.begin(), targets.end(),
                                                   [&] (const juce::String& t) { return movesLeft[t] > 0; });

                if (onPath.count (target) > 0)
                {
                    juce::StringArray names;
                    for (auto i = onPath[target]; i < path.size(); ++i)
                        names.add (quoted (path[i]));
                    names.add (quoted (target));
                    found[current] = names.joinIntoString (" -> ");
                    break;
                }

                current = target;
            }
        }

        return found;
    }

    // Whether a firmware transfer at a state's own level (one inside a Check may be skipped) can
    // follow in this state or in one the engine can reach from it.
    bool canTransferAfter (const State& state)
    {
        const auto cached = transferFollows.find (state.name);
        if (cached != transferFollows.end())
            return cached->second;

        bool found = false;

        for (const auto& name : findReachableStates (state.name))
            for (const auto& instruction : machine.getState (name)->instructions)
                vfu::visit (*instruction, [&found] (const State::SendSysExInstruction& sendSysEx)
                            { found = found || isFirmwareTransfer (sendSysEx); });

        transferFollows[state.name] = found;
        return found;
    }

    bool hasWayOut (const State& state) const
    {
        const auto [first, last] = moves.equal_range (state.name);
        return std::any_of (first, last, [&state] (const auto& move) { return move.second != state.name; });
    }

    void lintStateAsAWhole (const State& state, const juce::XmlElement& element)
    {
        if (reachable.count (state.name) == 0)
            warn (lintCode::unreachableState, state, element,
                  "no transition, button, GotoState or time-out that the engine can take leads to this state");

        const auto cycle = cycles.find (state.name);
        if (cycle != cycles.end())
            warn (lintCode::cycleWithoutPause, state, element,
                  "GotoState moves run in a cycle with no poll, wait or button: " + cycle->second +
                      "; the engine enters these states one after another without end");

        if (!hasWayOut (state))
            warn (lintCode::noWayOut, state, element,
                  "nothing the engine can take leads out of this state (polling mode " +
                      quoted (state.getAttribute ("pollingMode")) + ")");

        const bool ownTimeout = state.hasAttribute ("timeoutState");
        const auto timeoutTarget = getTimeoutTarget (updater, state);

        if (ownTimeout && !isState (timeoutTarget))
            warn (lintCode::unknownTarget, state, element,
                  "timeoutState " + quoted (timeoutTarget) + " names no state: a time-out leaves the engine here");

        if (!canTimeOut (state) || timeoutTarget != state.name)
            return;

        // Once met, the time-out is met again at every poll until something is found, so a
        // "no device" transition no longer fires.
        const bool noDeviceTransition = state.pollingStates.count (PollResult::NoDevice) > 0;

        if (ownTimeout)
            warn (lintCode::timeoutToSelf, state, element,
                  "its own timeoutState names the state itself: the time-out does nothing" +
                      juce::String (noDeviceTransition ? ", and once met, the 'no device' transition no longer fires"
                                                       : ""));
        else if (noDeviceTransition)
            warn (lintCode::timeoutToSelf, state, element,
                  "the updater's timeoutState is this state: once the time-out is met, the 'no device' transition "
                  "no longer fires");
    }

    void lintChildren (const State& state, const juce::XmlElement& parent, std::map<PollResult, int>& firstLines,
                       const std::set<PollResult>& produced)
    {
        forEachChildElement (parent,
                             [&] (const juce::XmlElement& child)
                             {
                                 const auto tag = child.getTagName();

                                 if (tag == "TextField")
                                     lintTextField (state, child);
                                 else if (tag == "Button")
                                     lintButton (state, child);
                                 else if (tag == "GotoState")
                                     lintGotoState (state, child);
                                 else if (tag == "SendSysEx")
                                     lintSendSysEx (state, child);
                                 else if (tag == "Wait")
                                     lintValue (state, child, "time");
                                 else if (tag == "PollingState")
                                     lintPollingState (state, child, firstLines, produced,
                                                       "polling mode " + quoted (state.getAttribute ("pollingMode")));
                                 else if (tag == "Check")
                                 {
                                     lintCheck (state, child);
                                     lintChildren (state, child, firstLines, produced);
                                 }
                             });
    }

    void lintTextField (const State& state, const juce::XmlElement& element)
    {
        const auto name = element.getStringAttribute ("name");

        if (!getPanelTextFieldNames().contains (name))
            warn (lintCode::unknownField, state, element,
                  "the panel has no text field " + quoted (name) + " (it has " +
                      getPanelTextFieldNames().joinIntoString (", ") + ")");
    }

    void lintButton (const State& state, const juce::XmlElement& element)
    {
        const auto name = element.getStringAttribute ("name");
        const auto target = element.getStringAttribute ("gotoState");

        if (!getPanelButtonNames().contains (name))
            warn (lintCode::unknownField, state, element,
                  "the panel has no button " + quoted (name) + " (it has " +
                      getPanelButtonNames().joinIntoString (", ") + ")");

        if (target.isNotEmpty() && !isState (target))
            warn (lintCode::unknownTarget, state, element,
                  "gotoState " + quoted (target) + " names no state: pressing the button does nothing");
    }

    void lintGotoState (const State& state, const juce::XmlElement& element)
    {
        const auto target = element.getStringAttribute ("state");

        if (!isState (target))
            warn (lintCode::unknownTarget, state, element,
                  "state " + quoted (target) + " names no state: the GotoState does nothing");
    }

    void lintCheck (const State& state, const juce::XmlElement& element)
    {
        const auto name = element.getStringAttribute ("name");

        if (name != "versionNumber")
            warn (lintCode::deadCheck, state, element,
                  "the engine knows no Check " + quoted (name) +
                      " (only 'versionNumber'): the instructions inside never run");
    }

    void lintSendSysEx (const State& state, const juce::XmlElement& element)
    {
        const State::SendSysExInstruction instruction (element.getStringAttribute ("messageKind"),
                                                       element.getStringAttribute ("endPollingMode"), 256, 0.5f);
        const auto produced = getResultsForTransferList (instruction);
        const auto context = isFirmwareTransfer (instruction)
                                 ? "a connection break and endPollingMode " + quoted (instruction.endPollingMode)
                                 : "the command " + quoted (instruction.messageKind) + ", which polls nothing after it";

        std::map<PollResult, int> firstLines;
        forEachChildElement (element,
                             [&] (const juce::XmlElement& child)
                             {
                                 if (child.getTagName() == "PollingState")
                                     lintPollingState (state, child, firstLines, produced, context);
                             });

        if (options.checkImages && isFirmwareTransfer (instruction))
            lintImage (state, element, instruction.messageKind);

        lintValue (state, element, "waitTime");

        if (instruction.messageKind == "erase" && !canTransferAfter (state))
            warn (lintCode::eraseWithoutTransfer, state, element,
                  "the erase can be sent, but no firmware transfer that always runs (one inside a Check may be "
                  "skipped) can follow it: the instrument would be left erased");
    }

    void lintValue (const State& state, const juce::XmlElement& element, const char* attributeName)
    {
        const auto clamped = describeClampedValue (attributeName, element.getStringAttribute (attributeName));

        if (clamped.isNotEmpty())
            warn (lintCode::valueOutOfRange, state, element, clamped);
    }

    void lintImage (const State& state, const juce::XmlElement& element, const juce::String& messageKind)
    {
        const auto versions = updater.getFirmwareVersions();

        if (versions.isEmpty())
            warn (lintCode::missingImage, state, element,
                  "no package was accepted, so none carries the image of " + quoted (messageKind));

        for (const auto& version : versions)
            for (const auto& entryName : findMissingEntries (messageKind, version))
                warn (lintCode::missingImage, state, element,
                      "the package of version " + version + " has no entry " + quoted (entryName) +
                          ": the updater does not offer it for this model");
    }

    // Reads each image once, however many SendSysEx elements name it: the read is the engine's own
    // lookup, and a hostile document could name the same image thousands of times.
    juce::StringArray findMissingEntries (const juce::String& messageKind, const juce::String& version)
    {
        const auto key = messageKind + "\n" + version;
        const auto cached = missingEntries.find (key);
        if (cached != missingEntries.end())
            return cached->second;

        updater.setFirmwareVersion (version);
        juce::MemoryBlock image;
        juce::String entryName, versionText;
        juce::StringArray missing;

        if (updater.getPackageStore().readSelectedImage (messageKind, image, entryName, versionText) !=
            FirmwarePackageStore::ImageReadResult::ok)
            missing.add (entryName);

        missingEntries[key] = missing;
        return missing;
    }

    void lintPollingState (const State& state, const juce::XmlElement& element, std::map<PollResult, int>& firstLines,
                           const std::set<PollResult>& produced, const juce::String& producer)
    {
        const auto value = element.getStringAttribute ("value");
        const auto result = readPollResult (value);
        const auto line = lines.getLine (element);
        const auto [first, isFirst] = firstLines.emplace (result, line);

        if (!isFirst)
        {
            warn (lintCode::duplicatePollingState, state, element,
                  "PollingState " + quoted (value) + " is shadowed by the earlier entry for " +
                      quoted (getPollResultValueName (result)) +
                      (first->second > 0 ? " on line " + juce::String (first->second) : juce::String()) +
                      ": it never fires");
            return;
        }

        if (produced.count (result) == 0)
            warn (lintCode::resultNeverProduced, state, element,
                  "PollingState " + quoted (value) + " never fires: " + producer + " produces " +
                      listResults (produced));
    }

    FirmwareUpdater& updater;
    const Machine& machine;
    const ElementLines& lines;
    const LintOptions& options;
    const std::multimap<juce::String, juce::String> moves;
    const std::set<juce::String> reachable;
    const std::map<juce::String, juce::String> cycles; // by the state that closes each
    std::map<juce::String, bool> transferFollows;      // by erasing state
    std::vector<LintWarning> warnings;
    std::map<juce::String, juce::StringArray> missingEntries; // by message kind and version
};
} // namespace

LintResult lintDefinitionText (const juce::String& documentText, const juce::String& deviceName, bool consoleMode,
                               const LintOptions& options)
{
    LintResult result;
    vfu::UpdaterEnvironment environment;
    environment.programFile = juce::File(); // the packages looked at are the ones given
    std::unique_ptr<FirmwareUpdater> updater;

    try
    {
        updater = std::make_unique<FirmwareUpdater> (documentText, deviceName, consoleMode, nullptr,
                                                     options.checkImages ? options.packages : juce::Array<juce::File>(),
                                                     environment);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        result.loadError = e.message;
        return result;
    }

    // The updater refuses a package that lacks an image of this machine; lint collects again
    // without that requirement, to name each missing image at the SendSysEx that needs it.
    if (options.checkImages)
    {
        updater->getPackageStore().setRequiredImages ({});
        updater->getPackageStore().collect (juce::File(), options.packages);
    }

    for (const auto& finding : updater->getPackageStore().getFindings())
        if (finding.versionNumber < 0)
            result.rejectedPackages.add (finding.source + ": " + finding.reason);

    // The loader accepted this very text, so the reader parses it safely once more.
    juce::XmlDocument document (documentText);
    document.setEmptyTextElementsIgnored (false);
    const auto root = document.getDocumentElement();
    const auto* updaterElement = root != nullptr ? findUpdaterElement (*root, deviceName, consoleMode) : nullptr;

    if (updaterElement == nullptr)
        return result; // not reached for a document the loader accepted

    const ElementLines lines (*root, documentText);
    Linter linter (*updater, lines, options);

    forEachChildElement (*updaterElement,
                         [&linter] (const juce::XmlElement& element)
                         {
                             if (element.getTagName() == "State")
                                 linter.lintState (element);
                         });

    result.warnings = linter.takeWarnings();
    return result;
}

juce::String formatLintWarning (const LintWarning& warning, const juce::String& sourceName)
{
    return sourceName + (warning.line > 0 ? ":" + juce::String (warning.line) : juce::String()) + ": " + warning.code +
           ": State '" + warning.stateName + "', " + warning.element + ": " + warning.message;
}

juce::var describeLintWarning (const LintWarning& warning)
{
    auto object = new juce::DynamicObject();
    juce::var result (object);
    object->setProperty ("code", warning.code);
    object->setProperty ("state", warning.stateName);
    object->setProperty ("element", warning.element);
    object->setProperty ("line", warning.line);
    object->setProperty ("message", warning.message);
    return result;
}
} // namespace vfu::definitions
