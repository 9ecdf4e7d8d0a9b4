#include "UpdatePrinter.h"

#include "TerminalQuestion.h"

#include "definitions/PanelFieldNames.h"
#include "midi/NativeMidiSystem.h"

#include <cmath>
#include <iostream>

#if JUCE_WINDOWS
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vfu::tool
{
namespace
{
bool isTerminal (int descriptor)
{
#if JUCE_WINDOWS
    return _isatty (descriptor) != 0;
#else
    return isatty (descriptor) != 0;
#endif
}

// A text on one line of output: the definitions' texts carry CR LF line ends, and a CR that reached
// a terminal would send the cursor back and let the rest overwrite the line.
juce::String onOneLine (const juce::String& text)
{
    return text.replace ("\r\n", "\n").replaceCharacter ('\r', '\n').replace ("\n", " / ");
}

// Empty when the computer's MIDI system can be reached, else what stands in the way (as the log's
// "MIDI system not available" line says it).
juce::String findMidiSystemProblem()
{
    const auto native = createNativeMidiSystem();
    juce::String problem;
    return native.system->isAvailable (problem) ? juce::String() : "MIDI system not available (" + problem + ")";
}

// "2:15 left", in whole seconds rounded up.
std::string formatTimeLeft (double seconds)
{
    const int whole = (int) std::ceil (juce::jmax (0.0, seconds));
    return (juce::String (whole / 60) + ":" + juce::String (whole % 60).paddedLeft ('0', 2) + " left").toStdString();
}
} // namespace

UpdatePrinter::UpdatePrinter (bool jsonToUse, bool logLines)
    : jsonLines (std::cout), json (jsonToUse), bar (!jsonToUse && isTerminal (1)), withLog (logLines)
{
    if (withLog)
        addLogObserver (this);
}

UpdatePrinter::~UpdatePrinter()
{
    if (withLog)
        removeLogObserver (this);
}

void UpdatePrinter::stateChanged (juce::String previousState, juce::String newState)
{
    if (json)
        return jsonLines.stateChanged (previousState, newState);

    endBar();
    secondsLeft = 0.0;
    printLine ("state: " + newState);
}

void UpdatePrinter::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    if (json)
        return jsonLines.textFieldChanged (name, text, visible);

    const bool isInstructions = name == definitions::instructionsFieldName;
    const bool newInstructions = isInstructions && visible && text != instructions;
    if (isInstructions)
        instructions = visible ? text : juce::String();

    if (newInstructions)
    {
        endBar();
        printLine ("instructions: " + onOneLine (text));
    }
}

void UpdatePrinter::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    if (json)
        jsonLines.buttonChanged (name, text, enabled);
}

void UpdatePrinter::printMessage (juce::String text, bool flag)
{
    if (json)
        return jsonLines.printMessage (text, flag);

    endBar();
    printLine ("print: " + onOneLine (text));
}

void UpdatePrinter::progressChanged (double fraction)
{
    if (json)
        return jsonLines.progressChanged (fraction);

    showProgress (fraction);
}

void UpdatePrinter::warningShown (juce::String text)
{
    if (json)
        return jsonLines.warningShown (text);

    endBar();
    printLine ("warning: " + onOneLine (text));
}

void UpdatePrinter::logLineWritten (const juce::String& text)
{
    if (json)
        return jsonLines.logLineWritten (text);

    printLine ("log: " + text);
}

void UpdatePrinter::timeLeftChanged (double seconds)
{
    secondsLeft = seconds;
    jsonLines.timeLeftChanged (seconds);
}

void UpdatePrinter::noticeChanged (Notice which, juce::String text)
{
    if (json)
        return jsonLines.noticeChanged (which, text);

    endBar();
    if (text.isNotEmpty())
        printLine ("notice: " + onOneLine (text));
}

void UpdatePrinter::guardChanged (bool guarded)
{
    if (json)
        jsonLines.guardChanged (guarded);
}

void UpdatePrinter::told (const juce::String& text)
{
    endBar();
    std::lock_guard<std::mutex> guard (printLock);
    std::cerr << text << std::endl;
}

void UpdatePrinter::pressed (const juce::String& buttonText)
{
    endBar();
    if (json)
    {
        auto object = JsonReportPrinter::makeObject();
        object->setProperty ("pressed", buttonText);
        return jsonLines.print (object);
    }
    printLine ("pressed: " + buttonText);
}

void UpdatePrinter::result (HeadlessUpdate& update, HeadlessUpdate::Outcome outcome)
{
    endBar();

    // Without a MIDI system no instrument can ever be found: the reason has to say so.
    auto reason = update.getReason();
    if (outcome != HeadlessUpdate::Outcome::succeeded)
    {
        const auto midiProblem = findMidiSystemProblem();
        if (midiProblem.isNotEmpty())
            reason << "; " << midiProblem;
    }

    if (json)
    {
        auto object = JsonReportPrinter::makeObject();
        object->setProperty ("result", HeadlessUpdate::nameOf (outcome));
        object->setProperty ("reason", reason);
        object->setProperty ("installed", update.getIdentifiedVersion());
        object->setProperty ("package", update.getSelectedVersion());
        object->setProperty ("exitCode", HeadlessUpdate::exitCodeFor (outcome));
        return jsonLines.print (object);
    }

    juce::String line = "result: " + juce::String (HeadlessUpdate::nameOf (outcome));
    if (outcome == HeadlessUpdate::Outcome::succeeded)
        line << ", installed " << update.getIdentifiedVersion() << " (package " << update.getSelectedVersion() << ")";
    else
        line << ": " << onOneLine (reason);
    printLine (line);
}

HeadlessUpdate::Answer UpdatePrinter::ask (const juce::String& buttonText, int millisecondsLeft)
{
    if (!isTerminal (0))
    {
        std::cerr << "Press \"" << buttonText << "\"? no terminal to ask: not pressed (use --yes)" << std::endl;
        return HeadlessUpdate::Answer::no;
    }

    switch (askYesNo ("Press \"" + buttonText + "\"?", millisecondsLeft))
    {
        case Reply::yes:
            return HeadlessUpdate::Answer::yes;
        case Reply::no:
            return HeadlessUpdate::Answer::no;
        case Reply::interrupted:
            return HeadlessUpdate::Answer::interrupted;
        case Reply::timeUp:
            return HeadlessUpdate::Answer::timeUp;
    }
    return HeadlessUpdate::Answer::no;
}

void UpdatePrinter::printLine (const juce::String& line)
{
    std::lock_guard<std::mutex> guard (printLock);
    if (line.isNotEmpty())
        std::cout << line.toStdString() << std::endl;
}

void UpdatePrinter::endBar()
{
    std::lock_guard<std::mutex> guard (printLock);
    if (barShown)
        std::cout << std::endl;
    barShown = false;
}

// A bar on a terminal, redrawn in place; otherwise a line for every tenth reached.
void UpdatePrinter::showProgress (double fraction)
{
    const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
    std::lock_guard<std::mutex> guard (printLock);

    if (fraction <= 0.0)
    {
        lastTenth = -1;
        return;
    }

    if (bar)
    {
        const int filled = percent / 4;
        std::cout << "\r[" << std::string ((size_t) filled, '#') << std::string ((size_t) (25 - filled), ' ') << "] "
                  << percent << "% " << formatTimeLeft (secondsLeft.load()) << "   " << std::flush;
        barShown = true;
        return;
    }

    if (percent / 10 != lastTenth)
    {
        lastTenth = percent / 10;
        std::cout << "progress: " << percent << "% (" << formatTimeLeft (secondsLeft.load()) << ")" << std::endl;
    }
}
} // namespace vfu::tool
