#pragma once

#include "midi/VirtualMidiLayer.h"

#include <functional>
#include <mutex>
#include <optional>

namespace vfu::simulation
{
enum class Model
{
    quillbox,
    lumostrel,
    orb26
};

struct ModelInfo
{
    Model model;
    const char* name;     // also the name of its MIDI ports
    const char* specName; // as written in a simulation spec ("quillbox")
    juce::uint16 deviceId;
    const char* defaultVersion; // the firmware it runs when nothing else is asked for
};

const ModelInfo& getModelInfo (Model model);
std::optional<Model> findModel (const juce::String& specName);

// The six identity reply bytes from body byte 7 (member code and revision) that report this
// version as the port selector decodes it for the model, or none when the model cannot report it
// (why says so).
std::optional<std::array<juce::uint8, 6>> encodeVersion (Model model, const juce::String& versionText,
                                                         juce::String* why = nullptr);

// How a Lumostrel bootloader identifies itself: the bootloader identity reply (byte 6 = 0Fh), member
// bytes 00 01, or revision bytes 00 00 64 00 with member bytes 00 00.
enum class BootloaderShape
{
    identityReply,
    memberBytes,
    revisionBytes
};

enum class Mode
{
    firmware,
    bootloader,
    absent // restarting: off the port lists
};

// Misbehaviour on demand.
struct InstrumentFaults
{
    bool dropReplies = false;          // answers nothing
    int extraReplyDelayMs = 0;         // every reply comes this much later (late replies)
    bool garbleReplies = false;        // replies with a corrupted header byte
    bool shortReplies = false;         // replies cut to half their body
    bool unrelatedSysExFirst = false;  // another manufacturer's SysEx before every reply
    int vanishAfterTransferBytes = -1; // leaves the ports when this many bytes of an image arrived (once)
    bool neverComeBack = false;        // a restart never ends
};

struct InstrumentSettings
{
    Model model = Model::quillbox;
    juce::String portName;        // empty: the model's name
    juce::String firmwareVersion; // empty: the model's default
    bool startInBootloader = false;
    BootloaderShape bootloaderShape = BootloaderShape::identityReply;
    int panelStateByte = 0; // Orb 26: the panel state byte it reports (0 no update, 1 erased, ...)
    int replyDelayMs = 20;  // clock milliseconds from a request to its reply
    // Time off the port lists for a restart; 0 means the model's own: 2000, or 8000 for the Orb 26,
    // whose polls (an inquiry plus up to five alternative inquiries) take up to 3.5 s, so a shorter
    // absence would go unseen.
    int restartMs = 0;
    // Time a valid image takes to be written before the instrument restarts into it; a real
    // instrument checks and flashes the image before it leaves the port lists.
    int installMs = 500;
    int eraseMs = 3000; // time off the port lists for an erase
    InstrumentFaults faults;
};

// What an instrument did, as it happens, for a simulator that reports it.
struct InstrumentEvent
{
    enum class Kind
    {
        received,      // a message from the host: `text` says which
        leftPorts,     // a restart began: off the port lists for `milliseconds`, back in `mode`
        returned,      // back on the port lists, in `mode`
        imageProgress, // `bytes` of the image arrived so far
        imageChecked,  // an image ended (`bytes` long): `valid`, or `text` says what is wrong
        installed,     // `text` is the version now installed
        erased
    };

    Kind kind;
    Mode mode; // the instrument's mode when it happened (the target mode for restarts)
    juce::String text;
    juce::int64 bytes = 0;
    int milliseconds = 0;
    bool valid = false;
};

// One instrument on a pair of virtual ports named after its model (or settings.portName): answers the identity request,
// the alternative device inquiry (Orb 26 firmware only) and the panel state request (Orb 26), takes the erase message
// and firmware images, and leaves and re-joins the port lists as it restarts. All timing goes through the layer's
// clock; the layer owns the instrument.
class SimulatedInstrument final : public VirtualMidiLayer::Device
{
public:
    // Adds the instrument's ports after the layer's existing ports; the layer owns the result.
    static SimulatedInstrument& addTo (VirtualMidiLayer& layer, const InstrumentSettings& settings);

    SimulatedInstrument (VirtualMidiLayer& layer, const InstrumentSettings& settings);

    juce::String getPortName() const;
    VirtualMidiLayer& getLayer() const noexcept { return layer; }
    Model getModel() const noexcept { return model; }
    juce::uint16 getDeviceId() const noexcept;

    // The user's button combination while switching on: restarts into the bootloader.
    void pressBootloaderCombination();
    void pressBootloaderCombination (int afterMilliseconds);
    // Switching off and on: restarts into the firmware when one is installed, else the bootloader.
    void powerCycle();

    // Called for every InstrumentEvent, on the thread where it happens and under the instrument's
    // lock: the listener must not call into the instrument. Set it before the host talks to it.
    void setEventListener (std::function<void (const InstrumentEvent&)> listener);

    void setFaults (const InstrumentFaults& faults);
    InstrumentFaults getFaults() const;
    void setPanelStateByte (int byte);
    int getPanelStateByte() const;
    void setRestartMilliseconds (int restartMs, int eraseMs);

    Mode getMode() const;
    juce::String getInstalledVersion() const;   // empty once erased
    bool holdsValidFirmware() const;            // the factory firmware, or the last image was full and correct
    juce::MemoryBlock getReceivedImage() const; // the bytes of the last image transfer, complete or not
    juce::String getLastImageProblem() const;   // empty when the last image was accepted
    int getImagesInstalled() const;
    int getErases() const;
    int getIdentityRequests() const;
    int getAlternativeInquiries() const;
    int getPanelStateRequests() const;

    void receiveFromHost (const juce::MidiMessage& message) override;

private:
    void handleByte (juce::uint8 byte);
    void handleSysEx (const std::vector<juce::uint8>& message);
    void handleImage (const std::vector<juce::uint8>& image);
    void imageCutShort (const juce::String& problem);
    void reply (std::vector<juce::uint8> message);
    void sendIdentityReply();
    void restart (Mode target, int offMilliseconds);
    void report (InstrumentEvent::Kind kind, const juce::String& text = {}, juce::int64 bytes = 0, bool valid = false);
    bool isImageStart() const;

    VirtualMidiLayer& layer;
    const Model model;
    const juce::String portName;
    const juce::uint8 id7;

    mutable std::mutex lock; // guards everything below
    Mode mode;
    juce::String installedVersion;
    bool validFirmware = true;
    BootloaderShape bootloaderShape;
    int panelStateByte;
    int replyDelayMs;
    int restartMs;
    int installMs;
    int eraseMs;
    InstrumentFaults faults;
    std::function<void (const InstrumentEvent&)> eventListener;
    int restartEpoch = 0; // a newer restart makes pending returns stale

    bool collecting = false;
    std::vector<juce::uint8> incoming;
    juce::MemoryBlock receivedImage;
    juce::String lastImageProblem;
    int imagesInstalled = 0, erases = 0, identityRequests = 0, alternativeInquiries = 0, panelStateRequests = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatedInstrument)
};
} // namespace vfu::simulation
