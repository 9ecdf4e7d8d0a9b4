#include "definitions/DefinitionGraph.h"

#include "definitions/DefinitionTransitions.h"
#include "definitions/InstructionVisit.h"
#include "definitions/PanelFieldNames.h"

#include <map>
#include <set>
#include <tuple>

namespace vfu::definitions
{
namespace
{
constexpr int instructionsTextLength = 40;
constexpr int graphvizTimeoutMs = 60000;

// A dot string literal: backslashes and quotes escaped, line breaks as dot's centred breaks.
juce::String dotString (const juce::String& text)
{
    return "\"" +
           text.replace ("\\", "\\\\")
               .replace ("\"", "\\\"")
               .replace ("\r\n", "\\n")
               .replace ("\n", "\\n")
               .replace ("\r", "\\n") +
           "\"";
}

void collectInstructionsTexts (const State::InstructionList& instructions, juce::StringArray& texts, bool inCheck)
{
    for (const auto& instruction : instructions)
        vfu::visit (
            *instruction,
            [&] (const State::TextFieldInstruction& textField)
            {
                if (textField.name == instructionsFieldName && textField.text.trim().isNotEmpty())
                    texts.add ((inCheck ? "or: " : "") + abbreviateText (textField.text, instructionsTextLength));
            },
            [&texts] (const State::CheckInstruction& check)
            { collectInstructionsTexts (check.instructions, texts, true); });
}

juce::String nodeLabel (const State& state)
{
    juce::StringArray lines{ state.name, "[" + state.getAttribute ("pollingMode") + "]" };
    collectInstructionsTexts (state.instructions, lines, false);
    return lines.joinIntoString ("\n");
}

const char* edgeStyle (TransitionKind kind)
{
    switch (kind)
    {
        case TransitionKind::pollResult:
            return "color=black";
        case TransitionKind::afterTransfer:
            return "color=purple, fontcolor=purple";
        case TransitionKind::gotoState:
            return "color=darkgreen, fontcolor=darkgreen";
        case TransitionKind::button:
            return "color=blue, fontcolor=blue";
        case TransitionKind::timeout:
            return "color=gray40, fontcolor=gray40, style=dashed";
    }

    return "";
}

juce::String edgeLabel (TransitionKind kind, const juce::StringArray& labels)
{
    const auto joined = labels.joinIntoString (kind == TransitionKind::button ? " / " : ", ");

    switch (kind)
    {
        case TransitionKind::afterTransfer:
            return "after transfer: " + joined;
        case TransitionKind::gotoState:
            return joined.isEmpty() ? juce::String ("GotoState") : "GotoState " + joined;
        case TransitionKind::button:
            return "[" + joined + "]";
        case TransitionKind::pollResult:
        case TransitionKind::timeout:
            return joined;
    }

    return joined;
}
} // namespace

juce::String abbreviateText (const juce::String& text, int maximumLength)
{
    const auto words = juce::StringArray::fromTokens (text, " \t\r\n", {});
    juce::StringArray nonEmpty;

    for (const auto& word : words)
        if (word.isNotEmpty())
            nonEmpty.add (word);

    const auto joined = nonEmpty.joinIntoString (" ");

    if (joined.length() <= maximumLength)
        return joined;

    return joined.substring (0, juce::jmax (0, maximumLength - 3)).trimEnd() + "...";
}

juce::String writeDefinitionGraph (const FirmwareUpdater& updater)
{
    const auto* machine = updater.getMachine();
    // A stream grows its buffer geometrically; appending to a String copies it each time.
    juce::MemoryOutputStream dot;
    dot << "digraph " << dotString (updater.getDeviceName()) << " {\n"
        << "    graph [label="
        << dotString (updater.getDeviceName() + (updater.getConsoleMode() ? " (console mode)" : ""))
        << ", labelloc=t, fontname=\"Helvetica\", rankdir=TB];\n"
        << "    node [shape=box, style=rounded, fontname=\"Helvetica\", fontsize=10];\n"
        << "    edge [fontname=\"Helvetica\", fontsize=9];\n";

    if (machine == nullptr)
        return dot.toString() + "}\n";

    // The start point's name must be no state's.
    juce::String startPoint ("start");
    while (machine->getState (startPoint) != nullptr)
        startPoint << "_";

    dot << "    " << dotString (startPoint) << " [shape=point, width=0.15, label=\"\"];\n";

    for (const auto& entry : machine->states)
    {
        const auto& state = *entry.second;
        const bool initial = state.name == machine->initialStateName;
        dot << "    " << dotString (state.name) << " [label=" << dotString (nodeLabel (state))
            << (initial ? ", penwidth=2.5" : "") << "];\n";
    }

    dot << "    " << dotString (startPoint) << " -> " << dotString (machine->initialStateName) << ";\n";

    // Parallel transitions of one kind become one edge with their labels joined, in the order met.
    using EdgeKey = std::tuple<juce::String, juce::String, TransitionKind, bool>;
    std::map<EdgeKey, juce::StringArray> labels;
    std::vector<EdgeKey> order;
    std::set<juce::String> missingTargets;

    for (const auto& transition : listTransitions (updater))
    {
        const EdgeKey key{ transition.from, transition.to, transition.kind, transition.takeable };

        if (labels.find (key) == labels.end())
            order.push_back (key);

        labels[key].addIfNotAlreadyThere (transition.label);

        if (!transition.targetExists)
            missingTargets.insert (transition.to);
    }

    for (const auto& name : missingTargets)
        dot << "    " << dotString (name) << " [label=" << dotString (name + "\n(no such state)")
            << ", style=dashed, color=red, fontcolor=red];\n";

    for (const auto& key : order)
    {
        const auto& [from, to, kind, takeable] = key;
        auto label = edgeLabel (kind, labels[key]);

        if (!takeable)
            label << " (never taken)";

        dot << "    " << dotString (from) << " -> " << dotString (to) << " [label=" << dotString (label) << ", "
            << (takeable ? edgeStyle (kind) : "color=gray70, fontcolor=gray70, style=dotted") << "];\n";
    }

    dot << "}\n";
    return dot.toString();
}

juce::File findGraphvizDot()
{
#if JUCE_WINDOWS
    const auto separator = ";";
    const auto programName = "dot.exe";
#else
    const auto separator = ":";
    const auto programName = "dot";
#endif

    const auto folders =
        juce::StringArray::fromTokens (juce::SystemStats::getEnvironmentVariable ("PATH", {}), separator, {});

    for (const auto& folder : folders)
    {
        if (!juce::File::isAbsolutePath (folder))
            continue;

        const auto candidate = juce::File (folder).getChildFile (programName);

        if (candidate.existsAsFile() && candidate.hasReadAccess())
            return candidate;
    }

    return {};
}

bool renderWithGraphviz (const juce::File& dotProgram, const juce::String& graphText, const juce::String& format,
                         juce::MemoryBlock& rendered, juce::String& error)
{
    const juce::TemporaryFile input (".dot");
    const juce::TemporaryFile output ("." + format);

    if (!input.getFile().replaceWithText (graphText, false, false, "\n"))
    {
        error = "Cannot write " + input.getFile().getFullPathName();
        return false;
    }

    juce::ChildProcess process;
    const juce::StringArray arguments{ dotProgram.getFullPathName(), "-T" + format, "-o",
                                       output.getFile().getFullPathName(), input.getFile().getFullPathName() };

    if (!process.start (arguments, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
    {
        error = "Cannot start " + dotProgram.getFullPathName();
        return false;
    }

    const auto messages = process.readAllProcessOutput();

    if (!process.waitForProcessToFinish (graphvizTimeoutMs))
    {
        process.kill();
        error = dotProgram.getFullPathName() + " did not finish";
        return false;
    }

    if (process.getExitCode() != 0 || !output.getFile().loadFileAsData (rendered))
    {
        error = dotProgram.getFullPathName() + " failed (exit code " + juce::String (process.getExitCode()) +
                "): " + messages.trim();
        return false;
    }

    return true;
}
} // namespace vfu::definitions
