#include "simulation/SimulatorSession.h"

#include "core/Clock.h"

namespace vfu::simulation
{
namespace
{
constexpr juce::int64 progressStepWithoutSize = 16 * 1024;

const char* modeName (Mode mode)
{
    switch (mode)
    {
        case Mode::firmware:
            return "firmware";
        case Mode::bootloader:
            return "bootloader";
        case Mode::absent:
            return "absent";
    }
    return "?";
}

const char* kindName (InstrumentEvent::Kind kind)
{
    switch (kind)
    {
        case InstrumentEvent::Kind::received:
            return "received";
        case InstrumentEvent::Kind::leftPorts:
            return "restart";
        case InstrumentEvent::Kind::returned:
            return "back";
        case InstrumentEvent::Kind::imageProgress:
            return "image";
        case InstrumentEvent::Kind::imageChecked:
            return "image-check";
        case InstrumentEvent::Kind::installed:
            return "installed";
        case InstrumentEvent::Kind::erased:
            return "erased";
    }
    return "?";
}

double now()
{
    return juce::Time::getMillisecondCounterHiRes();
}
} // namespace

SimulatorSession::SimulatorSession (const Options& optionsToUse, Clock& clock, PortPublisher& publisher,
                                    std::function<void (const juce::String&)> printToUse)
    : options (optionsToUse), print (std::move (printToUse)), startTime (now()),
      layer (std::make_unique<VirtualMidiLayer> (clock))
{
    instrument = &SimulatedInstrument::addTo (*layer, options.instrument);
    published = std::make_unique<PublishedInstrument> (*instrument, publisher,
                                                       static_cast<PublishedInstrument::Listener*> (this));
}

SimulatorSession::~SimulatorSession()
{
    published = nullptr; // closes the ports before the instrument goes
    layer = nullptr;
}

juce::String SimulatorSession::describe (const InstrumentEvent& event)
{
    switch (event.kind)
    {
        case InstrumentEvent::Kind::received:
            return "received: " + event.text;
        case InstrumentEvent::Kind::leftPorts:
            return "restart: off the ports " +
                   (event.milliseconds < 0 ? juce::String ("for good")
                                           : "for " + juce::String (event.milliseconds) + " ms") +
                   ", then " + modeName (event.mode);
        case InstrumentEvent::Kind::returned:
            return "back: " + juce::String (modeName (event.mode));
        case InstrumentEvent::Kind::imageProgress:
            return "image: " + juce::String (event.bytes) + " bytes received";
        case InstrumentEvent::Kind::imageChecked:
            return "image-check: " + juce::String (event.bytes) + " bytes, " +
                   (event.valid ? juce::String ("valid") : "invalid: " + event.text);
        case InstrumentEvent::Kind::installed:
            return "installed: " + event.text;
        case InstrumentEvent::Kind::erased:
            return "erased";
    }
    return {};
}

bool SimulatorSession::start (juce::String& problem)
{
    const auto& info = getModelInfo (instrument->getModel());

    // Read before taking the session's lock: the instrument reports its events while holding its
    // own lock and then takes the session's, so the two are only ever taken in that order.
    const auto version = instrument->getInstalledVersion();
    const auto mode = modeName (instrument->getMode());
    const auto portName = instrument->getPortName();
    {
        std::lock_guard<std::mutex> guard (lock);
        auto* extras = new juce::DynamicObject();
        extras->setProperty ("model", info.name);
        extras->setProperty ("version", version);
        extras->setProperty ("mode", mode);
        extras->setProperty ("port", portName);
        emit ("simulate", juce::String (info.name) + " " + version + " (" + mode + ") on ports " + portName.quoted(),
              extras);
    }

    return published->start (problem);
}

double SimulatorSession::elapsedSeconds() const
{
    return (now() - startTime) / 1000.0;
}

void SimulatorSession::emit (const juce::String& kind, const juce::String& text, juce::DynamicObject* extras)
{
    juce::var object (extras != nullptr ? extras : new juce::DynamicObject());

    if (!options.json)
    {
        print (kind == "simulate" || kind == "ports" || kind == "auto-bootloader" ? kind + ": " + text : text);
        return;
    }

    auto* fields = new juce::DynamicObject();
    fields->setProperty ("event", kind);
    fields->setProperty ("time", elapsedSeconds());
    fields->setProperty ("text", text);
    for (auto& property : object.getDynamicObject()->getProperties())
        fields->setProperty (property.name, property.value);
    print (juce::JSON::toString (juce::var (fields), true));
}

void SimulatorSession::portsChanged (bool open, const juce::String& problem)
{
    std::lock_guard<std::mutex> guard (lock);
    if (finished)
        return;

    auto* extras = new juce::DynamicObject();
    extras->setProperty ("open", open);
    if (problem.isNotEmpty())
        extras->setProperty ("problem", problem);
    const auto quotedName = instrument->getPortName().quoted();
    emit ("ports",
          open                   ? "created " + quotedName
          : problem.isNotEmpty() ? "not created " + quotedName + ": " + problem
                                 : "closed " + quotedName,
          extras);
}

void SimulatorSession::instrumentEvent (const InstrumentEvent& event)
{
    // Under the instrument's lock: nothing here may call into the instrument but the delayed press.
    const double time = now();
    std::lock_guard<std::mutex> guard (lock);

    if (finished || foldStray (event))
        return;

    juce::DynamicObject::Ptr extras = new juce::DynamicObject();
    extras->setProperty ("mode", modeName (event.mode));
    if (!noteImage (event, time, *extras))
        return;

    emit (kindName (event.kind), describe (event), extras.get());
    armAutoBootloader (event);
}

bool SimulatorSession::foldStray (const InstrumentEvent& event)
{
    // Stray non-SysEx messages come in floods (a firmware stream mangled on its way arrives as
    // thousands of them): the first of a run is printed, the rest counted.
    const bool stray = event.kind == InstrumentEvent::Kind::received && event.text.startsWith ("non-SysEx");
    if (stray && event.text == lastStray)
    {
        ++straysUnprinted;
        return true;
    }

    if (straysUnprinted > 0)
    {
        auto* counted = new juce::DynamicObject();
        counted->setProperty ("repeats", straysUnprinted);
        emit ("received", "received: " + lastStray + " (" + juce::String (straysUnprinted) + " more)", counted);
        straysUnprinted = 0;
    }
    lastStray = stray ? event.text : juce::String();
    return false;
}

bool SimulatorSession::noteImage (const InstrumentEvent& event, double time, juce::DynamicObject& extras)
{
    using Kind = InstrumentEvent::Kind;

    if (event.kind == Kind::received && event.text == "firmware image")
    {
        pieces = 0;
        firstPieceTime = time;
        nextProgressLine = options.imageSize > 0 ? options.imageSize / 10 : progressStepWithoutSize;
    }

    if (event.kind == Kind::imageProgress)
    {
        ++pieces;
        lastPieceTime = time;
        if (event.bytes < nextProgressLine)
            return false;

        const auto step =
            options.imageSize > 0 ? juce::jmax<juce::int64> (1, options.imageSize / 10) : progressStepWithoutSize;
        while (nextProgressLine <= event.bytes)
            nextProgressLine += step;
        extras.setProperty ("bytes", event.bytes);
    }

    if (event.kind == Kind::imageChecked)
    {
        // A complete or refused image ended with a piece of its own (the one with F7); one broken
        // off ended with the last piece already counted.
        if (event.valid || (!event.text.contains ("transfer cut short") && !event.text.contains ("left the ports")))
        {
            ++pieces;
            lastPieceTime = time;
        }
        lastTransferPackets = pieces;
        lastTransferMilliseconds = pieces > 0 ? lastPieceTime - firstPieceTime : 0.0;
        extras.setProperty ("bytes", event.bytes);
        extras.setProperty ("valid", event.valid);
    }
    return true;
}

void SimulatorSession::armAutoBootloader (const InstrumentEvent& event)
{
    const bool answeredInFirmware = event.kind == InstrumentEvent::Kind::received && event.text == "identity request" &&
                                    event.mode == Mode::firmware && !options.instrument.faults.dropReplies;

    if (!answeredInFirmware || options.autoBootloaderMs < 0 || autoBootloaderArmed)
        return;

    autoBootloaderArmed = true;
    instrument->pressBootloaderCombination (options.autoBootloaderMs); // through the layer's queue
    auto* note = new juce::DynamicObject();
    note->setProperty ("milliseconds", options.autoBootloaderMs);
    emit ("auto-bootloader", "restart into the bootloader in " + juce::String (options.autoBootloaderMs) + " ms", note);
}

SimulatorSession::Summary SimulatorSession::getSummary() const
{
    Summary summary;
    const auto image = instrument->getReceivedImage();
    const auto problem = instrument->getLastImageProblem();
    summary.imageBytes = (juce::int64) image.getSize();
    summary.imageCheck = image.getSize() == 0 ? juce::String ("none")
                         : problem.isEmpty()  ? juce::String ("valid")
                                              : "invalid: " + problem;
    summary.installedVersion = instrument->getInstalledVersion();
    summary.identityRequests = instrument->getIdentityRequests();
    summary.portCreations = published->getPublications();

    std::lock_guard<std::mutex> guard (lock);
    summary.transferPackets = lastTransferPackets;
    summary.transferMilliseconds = lastTransferMilliseconds;
    return summary;
}

void SimulatorSession::finish()
{
    published->stop();

    const auto summary = getSummary();
    std::lock_guard<std::mutex> guard (lock);
    if (finished)
        return;
    finished = true;

    if (options.json)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty ("event", "summary");
        object->setProperty ("imageBytes", summary.imageBytes);
        object->setProperty ("imageCheck", summary.imageCheck);
        object->setProperty ("imageValid", summary.imageCheck == "valid");
        object->setProperty ("installedVersion", summary.installedVersion);
        object->setProperty ("transferPackets", summary.transferPackets);
        object->setProperty ("transferMilliseconds", summary.transferMilliseconds);
        object->setProperty ("identityRequests", summary.identityRequests);
        object->setProperty ("portCreations", summary.portCreations);
        print (juce::JSON::toString (juce::var (object), true));
        return;
    }

    print ("summary: image bytes received: " + juce::String (summary.imageBytes));
    print ("summary: image: " + summary.imageCheck);
    print ("summary: version installed: " +
           (summary.installedVersion.isNotEmpty() ? summary.installedVersion : juce::String ("none")));
    print ("summary: transfer: " + juce::String (summary.transferPackets) + " packets, " +
           juce::String (summary.transferMilliseconds, 1) + " ms from the first to the last");
    print ("summary: identity requests: " + juce::String (summary.identityRequests));
    print ("summary: ports created: " + juce::String (summary.portCreations) + " times");
}
} // namespace vfu::simulation
