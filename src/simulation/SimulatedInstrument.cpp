#include "simulation/SimulatedInstrument.h"

#include "packages/FirmwareImage.h"
#include "core/VersionNumber.h"
#include "midi/InstrumentProtocol.h"

namespace vfu::simulation
{
namespace
{
const ModelInfo models[] = {
    { Model::quillbox, "Quillbox", "quillbox", protocol::quillboxId, "2.1.0" },
    { Model::lumostrel, "Lumostrel", "lumostrel", protocol::lumostrelId, "1.0.9" },
    { Model::orb26, "Orb 26", "orb26", protocol::orb26Id, "1.0.9" },
};

// Images larger than this are not collected further (a runaway stream without F7).
constexpr size_t maximumMessageSize = 16 * 1024 * 1024;

struct VersionParts
{
    int major = 0, minor = 0, patch = 0, suffix = -1; // suffix -1: none
};

bool isDigits (const juce::String& s)
{
    return s.isNotEmpty() && s.containsOnly ("0123456789") && s.length() <= 6;
}

// "major.minor.patch" or "major.minor.patchpN", digits only.
std::optional<VersionParts> splitVersion (const juce::String& text)
{
    auto parts = juce::StringArray::fromTokens (text, ".", "");
    if (parts.size() != 3)
        return {};

    VersionParts v;
    auto patchText = parts[2];
    if (patchText.containsChar ('p'))
    {
        const auto suffixText = patchText.fromFirstOccurrenceOf ("p", false, false);
        patchText = patchText.upToFirstOccurrenceOf ("p", false, false);
        if (!isDigits (suffixText))
            return {};
        v.suffix = suffixText.getIntValue();
    }

    if (!isDigits (parts[0]) || !isDigits (parts[1]) || !isDigits (patchText))
        return {};

    v.major = parts[0].getIntValue();
    v.minor = parts[1].getIntValue();
    v.patch = patchText.getIntValue();
    return v;
}

} // namespace

const ModelInfo& getModelInfo (Model model)
{
    for (auto& info : models)
        if (info.model == model)
            return info;

    return models[0];
}

std::optional<Model> findModel (const juce::String& specName)
{
    for (auto& info : models)
        if (specName.equalsIgnoreCase (info.specName))
            return info.model;

    return {};
}

std::optional<std::array<juce::uint8, 6>> encodeVersion (Model model, const juce::String& versionText,
                                                         juce::String* why)
{
    auto fail = [why, &versionText] (const juce::String& reason) -> std::optional<std::array<juce::uint8, 6>>
    {
        if (why != nullptr)
            *why = "version " + versionText.quoted() + " " + reason;
        return {};
    };

    const auto v = splitVersion (versionText);
    if (!v)
        return fail ("is not major.minor.patch or major.minor.patchpN");

    if (model == Model::quillbox)
    {
        // A 14-bit number n read as n / 100, (n / 10) mod 10, n mod 10.
        if (v->suffix >= 0)
            return fail ("cannot be reported by a Quillbox (no p suffix)");
        if (v->minor > 9 || v->patch > 9)
            return fail ("cannot be reported by a Quillbox (minor and patch are single digits)");

        const int n = v->major * 100 + v->minor * 10 + v->patch;
        if (n > 0x3FFF)
            return fail ("cannot be reported by a Quillbox (above 163.8.3)");

        return std::array<juce::uint8, 6>{ 0, 0, (juce::uint8) (n & 0x7F), (juce::uint8) (n >> 7), 0, 0 };
    }

    if (v->major > 0x7F || v->minor > 0x7F || v->patch > 0x7F || v->suffix > 0x7F)
        return fail ("has a number above 127");

    if (v->suffix == 0)
        return fail ("cannot be reported (a p0 suffix reads as no suffix)");

    const auto suffixByte = (juce::uint8) juce::jmax (0, v->suffix);

    // Without a suffix, revision bytes 00 00 3F (rule A) or 00 .. 3F (rule B) read as 1.0.x.
    if (v->suffix < 0 && v->major == 0 &&
        ((model == Model::lumostrel && v->minor == 0x3F) || (model == Model::orb26 && v->patch == 0x3F)))
        return fail ("cannot be reported (reads as 1.0.x)");

    return std::array<juce::uint8, 6>{
        0, 0, suffixByte, (juce::uint8) v->major, (juce::uint8) v->minor, (juce::uint8) v->patch
    };
}

SimulatedInstrument& SimulatedInstrument::addTo (VirtualMidiLayer& layer, const InstrumentSettings& settings)
{
    auto instrument = std::make_unique<SimulatedInstrument> (layer, settings);
    const auto name = instrument->getPortName();
    return layer.addDevice (name, std::move (instrument));
}

SimulatedInstrument::SimulatedInstrument (VirtualMidiLayer& layerToUse, const InstrumentSettings& settings)
    : layer (layerToUse), model (settings.model),
      portName (settings.portName.isNotEmpty() ? settings.portName : juce::String (getModelInfo (settings.model).name)),
      id7 ((juce::uint8) (getModelInfo (settings.model).deviceId & 0x7F)),
      mode (settings.startInBootloader ? Mode::bootloader : Mode::firmware),
      installedVersion (settings.firmwareVersion.isNotEmpty()
                            ? settings.firmwareVersion
                            : juce::String (getModelInfo (settings.model).defaultVersion)),
      bootloaderShape (settings.bootloaderShape), panelStateByte (settings.panelStateByte),
      replyDelayMs (settings.replyDelayMs),
      restartMs (settings.restartMs > 0 ? settings.restartMs : (settings.model == Model::orb26 ? 8000 : 2000)),
      installMs (juce::jmax (0, settings.installMs)), eraseMs (settings.eraseMs), faults (settings.faults)
{
}

juce::String SimulatedInstrument::getPortName() const
{
    return portName;
}

juce::uint16 SimulatedInstrument::getDeviceId() const noexcept
{
    return getModelInfo (model).deviceId;
}

void SimulatedInstrument::pressBootloaderCombination()
{
    std::lock_guard<std::mutex> guard (lock);
    restart (Mode::bootloader, restartMs);
}

void SimulatedInstrument::pressBootloaderCombination (int afterMilliseconds)
{
    layer.callAfter (afterMilliseconds, [this] { pressBootloaderCombination(); });
}

void SimulatedInstrument::powerCycle()
{
    std::lock_guard<std::mutex> guard (lock);
    restart (validFirmware && installedVersion.isNotEmpty() ? Mode::firmware : Mode::bootloader, restartMs);
}

void SimulatedInstrument::setEventListener (std::function<void (const InstrumentEvent&)> listener)
{
    std::lock_guard<std::mutex> guard (lock);
    eventListener = std::move (listener);
}

void SimulatedInstrument::report (InstrumentEvent::Kind kind, const juce::String& text, juce::int64 bytes, bool valid)
{
    if (!eventListener)
        return;

    InstrumentEvent event{ kind, mode, text, bytes, 0, valid };
    eventListener (event);
}

void SimulatedInstrument::setFaults (const InstrumentFaults& f)
{
    std::lock_guard<std::mutex> guard (lock);
    faults = f;
}

InstrumentFaults SimulatedInstrument::getFaults() const
{
    std::lock_guard<std::mutex> guard (lock);
    return faults;
}

void SimulatedInstrument::setPanelStateByte (int byte)
{
    std::lock_guard<std::mutex> guard (lock);
    panelStateByte = juce::jlimit (0, 0x7F, byte);
}

int SimulatedInstrument::getPanelStateByte() const
{
    std::lock_guard<std::mutex> guard (lock);
    return panelStateByte;
}

void SimulatedInstrument::setRestartMilliseconds (int newRestartMs, int newEraseMs)
{
    std::lock_guard<std::mutex> guard (lock);
    restartMs = newRestartMs;
    eraseMs = newEraseMs;
}

Mode SimulatedInstrument::getMode() const
{
    std::lock_guard<std::mutex> guard (lock);
    return mode;
}

juce::String SimulatedInstrument::getInstalledVersion() const
{
    std::lock_guard<std::mutex> guard (lock);
    return installedVersion;
}

bool SimulatedInstrument::holdsValidFirmware() const
{
    std::lock_guard<std::mutex> guard (lock);
    return validFirmware;
}

juce::MemoryBlock SimulatedInstrument::getReceivedImage() const
{
    std::lock_guard<std::mutex> guard (lock);
    return receivedImage;
}

juce::String SimulatedInstrument::getLastImageProblem() const
{
    std::lock_guard<std::mutex> guard (lock);
    return lastImageProblem;
}

int SimulatedInstrument::getImagesInstalled() const
{
    std::lock_guard<std::mutex> guard (lock);
    return imagesInstalled;
}

int SimulatedInstrument::getErases() const
{
    std::lock_guard<std::mutex> guard (lock);
    return erases;
}

int SimulatedInstrument::getIdentityRequests() const
{
    std::lock_guard<std::mutex> guard (lock);
    return identityRequests;
}

int SimulatedInstrument::getAlternativeInquiries() const
{
    std::lock_guard<std::mutex> guard (lock);
    return alternativeInquiries;
}

int SimulatedInstrument::getPanelStateRequests() const
{
    std::lock_guard<std::mutex> guard (lock);
    return panelStateRequests;
}

// ----- Receiving -----

void SimulatedInstrument::receiveFromHost (const juce::MidiMessage& message)
{
    std::lock_guard<std::mutex> guard (lock);

    const auto* raw = message.getRawData();
    for (int i = 0; i < message.getRawDataSize() && mode != Mode::absent; ++i)
        handleByte (raw[i]);

    // One progress report per piece that extends an image (a packet, on a paced transfer).
    if (collecting && isImageStart())
        report (InstrumentEvent::Kind::imageProgress, {}, (juce::int64) incoming.size());
}

bool SimulatedInstrument::isImageStart() const
{
    return incoming.size() >= 4 && incoming[1] == 0x04 && incoming[2] == id7 &&
           incoming[3] == FirmwareImage::imageCommand;
}

void SimulatedInstrument::handleByte (juce::uint8 byte)
{
    if (byte == 0xF0)
    {
        if (collecting && isImageStart())
            imageCutShort ("transfer cut short by a new message");

        collecting = true;
        incoming.assign (1, byte);
        return;
    }

    if (byte >= 0xF8)
        return; // real-time bytes may appear anywhere

    if (!collecting)
    {
        // Channel messages and stray data are not for us; a status byte is reported, as a firmware
        // stream that arrives as anything but SysEx shows up here.
        if (byte >= 0x80 && byte != 0xF7)
            report (InstrumentEvent::Kind::received,
                    "non-SysEx message, status " + juce::String::toHexString ((int) byte).toUpperCase());
        return;
    }

    if (byte >= 0x80 && byte != 0xF7)
    {
        // Any other status byte ends a SysEx message unfinished.
        if (isImageStart())
            imageCutShort ("transfer cut short by a status byte");
        collecting = false;
        incoming.clear();
        return;
    }

    if (incoming.size() >= maximumMessageSize)
    {
        collecting = false;
        incoming.clear();
        return;
    }

    incoming.push_back (byte);

    if (byte == 0xF7)
    {
        collecting = false;
        const auto complete = std::move (incoming);
        incoming.clear();
        handleSysEx (complete);
        return;
    }

    if (isImageStart())
    {
        if (incoming.size() == 4)
            report (InstrumentEvent::Kind::received, "firmware image");

        if (incoming.size() == 4 && model == Model::orb26 && mode == Mode::firmware &&
            (panelStateByte == 1 || panelStateByte == 2))
            panelStateByte = 2; // panel firmware sending

        if (faults.vanishAfterTransferBytes >= 0 && (int) incoming.size() >= faults.vanishAfterTransferBytes)
        {
            imageCutShort ("the instrument left the ports during the transfer");
            collecting = false;
            incoming.clear();
            // A break is a one-off, as a cable pulled once: the next transfer may complete.
            faults.vanishAfterTransferBytes = -1;
            // An interrupted transfer leaves no firmware: it comes back in its bootloader.
            restart (Mode::bootloader, restartMs);
        }
    }
}

void SimulatedInstrument::imageCutShort (const juce::String& problem)
{
    receivedImage = juce::MemoryBlock (incoming.data(), incoming.size());
    lastImageProblem = problem;
    report (InstrumentEvent::Kind::imageChecked, problem, (juce::int64) incoming.size(), false);

    // A panel image broken off leaves the panel half written: it keeps reporting "sending", which
    // is how the updater recognises a partly updated Orb 26 later.
    if (mode == Mode::bootloader)
        validFirmware = false;
}

void SimulatedInstrument::handleSysEx (const std::vector<juce::uint8>& m)
{
    const auto body = protocol::bodyOf (m.data(), (int) m.size());

    // Identity request, addressed to any device number.
    if (protocol::isIdentityRequest (body))
    {
        ++identityRequests;
        report (InstrumentEvent::Kind::received, "identity request");
        sendIdentityReply();
        return;
    }

    if (protocol::isAlternativeDeviceInquiry (body))
    {
        ++alternativeInquiries;
        report (InstrumentEvent::Kind::received, "alternative device inquiry");
        // Only the normal Orb 26 firmware knows the alternative inquiry.
        if (model == Model::orb26 && mode == Mode::firmware)
            reply (protocol::alternativeReply());
        return;
    }

    // The panel state request (F0 04 id 31 00 + twelve zeros) and the shorter "panel update state"
    // message both ask the panel for its state.
    if (protocol::isPanelStateRequest (body, id7))
    {
        ++panelStateRequests;
        report (InstrumentEvent::Kind::received, "panel state request");
        if (model == Model::orb26 && mode == Mode::firmware)
            reply (protocol::panelStateReply ((juce::uint8) panelStateByte));
        return;
    }

    if (body.size == 3 && body.startsWith ({ 0x04, id7, 0x11 }))
    {
        report (InstrumentEvent::Kind::received,
                mode == Mode::bootloader ? "erase" : "erase (ignored outside the bootloader)");
        if (mode == Mode::bootloader)
        {
            ++erases;
            installedVersion = {};
            validFirmware = false;
            report (InstrumentEvent::Kind::erased);
            restart (Mode::bootloader, eraseMs);
        }
        return;
    }

    if (body.startsWith ({ 0x04, id7, FirmwareImage::imageCommand }))
    {
        handleImage (m);
        return;
    }

    report (InstrumentEvent::Kind::received, "other SysEx, " + juce::String ((int) m.size()) + " bytes");
}

void SimulatedInstrument::handleImage (const std::vector<juce::uint8>& image)
{
    receivedImage = juce::MemoryBlock (image.data(), image.size());
    const auto contents = FirmwareImage::inspect (image.data(), image.size());

    juce::String problem = contents.problem;
    if (contents.valid && contents.deviceId != id7)
        problem = "image for another device";

    report (InstrumentEvent::Kind::imageChecked, problem, (juce::int64) image.size(), problem.isEmpty());

    if (mode == Mode::bootloader)
    {
        if (problem.isNotEmpty())
        {
            // A corrupt or cut image leaves the bootloader waiting for another try.
            lastImageProblem = problem;
            validFirmware = false;
            return;
        }

        lastImageProblem = {};
        installedVersion = formatVersionNumber (contents.versionNumber);
        validFirmware = true;
        ++imagesInstalled;
        report (InstrumentEvent::Kind::installed, installedVersion);

        // While it writes the image it answers nothing but stays on the port lists, as the real
        // instrument does; then it restarts into the new firmware.
        mode = Mode::absent;
        collecting = false;
        incoming.clear();
        const int epoch = ++restartEpoch;
        layer.callAfter (installMs,
                         [this, epoch]
                         {
                             std::lock_guard<std::mutex> guard (lock);
                             if (epoch == restartEpoch)
                                 restart (Mode::firmware, restartMs);
                         });
        return;
    }

    // The running Orb 26 firmware takes the panel images: the first erases the panel, the second
    // programs it.
    if (model != Model::orb26)
        return;

    if (problem.isNotEmpty())
    {
        lastImageProblem = problem;
        if (panelStateByte == 2)
            panelStateByte = 5;
        return;
    }

    lastImageProblem = {};
    ++imagesInstalled;
    panelStateByte = (panelStateByte == 1 || panelStateByte == 2) ? 3 : 1;
}

// ----- Replying -----

void SimulatedInstrument::sendIdentityReply()
{
    if (mode == Mode::bootloader && model != Model::orb26)
    {
        if (model == Model::quillbox || bootloaderShape == BootloaderShape::identityReply)
            reply (protocol::identityReply (protocol::bootloaderDeviceByte, {}));
        else if (bootloaderShape == BootloaderShape::memberBytes)
            reply (protocol::identityReply (id7, { 0x00, 0x01, 0x00, 0x00, 0x00, 0x00 }));
        else
            reply (protocol::identityReply (id7, { 0x00, 0x00, 0x00, 0x00, 0x64, 0x00 }));
        return;
    }

    // An erased Orb 26 bootloader still answers, with revision 0.0.0.
    auto revision = encodeVersion (model, installedVersion.isNotEmpty() ? installedVersion : juce::String ("0.0.0"));
    if (!revision)
        revision = std::array<juce::uint8, 6>{};

    reply (protocol::identityReply (id7, *revision));
}

void SimulatedInstrument::reply (std::vector<juce::uint8> message)
{
    if (faults.dropReplies)
        return;

    const int delay = juce::jmax (0, replyDelayMs + faults.extraReplyDelayMs);

    if (faults.unrelatedSysExFirst)
    {
        const juce::uint8 other[] = { 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 };
        layer.sendToHost (portName, juce::MidiMessage (other, (int) sizeof (other)), delay);
    }

    if (faults.shortReplies)
    {
        const auto body = message.size() - 2;
        message.resize (1 + body / 2);
        message.push_back (0xF7);
    }

    if (faults.garbleReplies && message.size() > 2)
        message[1] ^= 0x01; // another sub-ID or manufacturer

    layer.sendToHost (portName, juce::MidiMessage (message.data(), (int) message.size()), delay);
}

void SimulatedInstrument::restart (Mode target, int offMilliseconds)
{
    mode = Mode::absent;
    collecting = false;
    incoming.clear();
    const int epoch = ++restartEpoch;
    layer.setPortsPresent (portName, false);

    if (eventListener)
    {
        InstrumentEvent event{
            InstrumentEvent::Kind::leftPorts, target, {}, 0, faults.neverComeBack ? -1 : offMilliseconds, false
        };
        eventListener (event);
    }

    if (faults.neverComeBack)
        return;

    layer.callAfter (offMilliseconds,
                     [this, epoch, target]
                     {
                         std::lock_guard<std::mutex> guard (lock);
                         if (epoch != restartEpoch)
                             return;
                         mode = target;
                         layer.setPortsPresent (portName, true);
                         report (InstrumentEvent::Kind::returned);
                     });
}
} // namespace vfu::simulation
