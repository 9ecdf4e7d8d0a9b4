#pragma once

#include "midi/Recording.h"
#include "midi/VirtualMidiLayer.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

namespace vfu::simulation
{
// An instrument that is a recording (docs/recordings.md): on a virtual layer it shows the recorded
// ports, answers each message from the host with what was recorded after it, and checks every
// message from the host against the recording. Nothing is ever sent that the recording does not
// hold; after the first difference nothing more is sent at all.
//
// The host's messages are taken in runs: consecutive recorded messages with the same bytes on the
// same port and nothing from the instrument between them (the polls of a host waiting for the
// instrument). What the instrument did after a run starts once the host has sent the run's message
// as often as recorded, timed from that message, so that it lands at the same point of the host's
// poll cycle; the host may send it more often.
class RecordingReplay final
{
public:
    // Adds a port pair for every port name the recording shows; the layer must be destroyed before
    // the replay (its devices call into it).
    //
    // With `instrumentPortsOnly` (replay on a real MIDI system, whose own ports are there already)
    // only the ports the instrument answered on are the replay's: the host's messages to other ports
    // are neither seen nor expected.
    RecordingReplay (recording::Recording recording, VirtualMidiLayer& layer, bool instrumentPortsOnly = false);
    ~RecordingReplay();

    // Shows the first recorded port lists and plays what the instrument did before the host spoke.
    void start();

    // A message (or a piece of one) from the host on the output of that name.
    void hostSent (const juce::String& port, const juce::uint8* data, int size);

    // Bytes from the host as a MIDI system delivers them, in chunks of any size: cut into the
    // messages and pieces the recording expects, then checked as hostSent does.
    void hostBytes (const juce::String& port, const juce::uint8* data, int size);

    // The port names the replay shows (all the recording shows, or the instrument's own).
    const juce::StringArray& getPortNames() const noexcept { return portNames; }

    bool hasDiverged() const { return diverged.load(); }

    // The verdict once the host has stopped: "replay: matched N lines", or "replay: diverged at
    // line N: expected ..., got ..." (also when the host stopped before the recording's last state).
    juce::String finish();

    // A pause between two pieces may be this much shorter than recorded.
    static constexpr double pauseTolerance = 0.10;

private:
    struct Run
    {
        std::vector<size_t> host;   // entries of the host's messages (identical, for a poll run)
        std::vector<size_t> device; // entries the instrument played after them
    };

    class PortDevice;

    void groupIntoRuns(); // fills `runs` and `lastStateEntry` from the recording's entries

    // Under lock: a message from the host taken as a repeat of the run matched last, as the next
    // run, or as a divergence. Each gives the run whose instrument part is to be played now, if any.
    std::optional<size_t> follow (const juce::String& port, const juce::uint8* data, int size, juce::int64 now);
    std::optional<size_t> countRepeat();
    std::optional<size_t> moveTo (size_t next, juce::int64 now);
    bool matches (const Run& run, const juce::String& port, const juce::uint8* data, int size, double now,
                  juce::String& mismatch) const;
    double recordedPauseBefore (const recording::Entry& piece) const; // under lock
    juce::String describeExpected (const Run& run) const;
    static juce::String describeGot (const juce::String& port, const juce::uint8* data, int size);
    void diverge (int line, const juce::String& expected, const juce::String& got); // under lock
    void schedule (size_t runIndex, double fromTime);
    void play (const recording::Entry& entry);
    void showPorts (const recording::Entry& entry);
    int nextUnitLength (const juce::String& port, const std::vector<juce::uint8>& buffer) const;

    recording::Recording recording; // trimmed to the instrument's ports in the constructor, then read-only
    VirtualMidiLayer& layer;
    juce::StringArray portNames;
    std::vector<Run> runs;                      // runs[0] holds only what the instrument did before the host spoke
    std::vector<double> playTimes;              // per entry: when the instrument plays it, in recorded seconds
    std::map<juce::String, double> fastestPace; // per image: the shortest recorded pause per byte, in ms
    size_t lastStateEntry = 0;

    std::atomic<bool> diverged{ false };
    mutable std::mutex lock;       // guards what follows
    size_t current = 0;            // the run matched last
    size_t timesMatched = 0;       // how often the host sent its message so far
    bool currentScheduled = false; // what the instrument did after it is under way
    juce::String divergence;
    mutable juce::String mismatchPause; // the pause that made a piece differ
    juce::int64 imageStartClock = -1;   // when the first piece of the image under way arrived
    double imageRecordedMs = 0.0;       // the recorded pauses from that piece to the last one matched
    juce::int64 lastPieceEnd = -1;
    std::vector<std::unique_ptr<std::atomic<int>>> pending; // deliveries still to come, per run

    std::mutex streamLock; // guards the bytes received but not yet cut into messages, per port
    std::map<juce::String, std::vector<juce::uint8>> streams;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RecordingReplay)
};
} // namespace vfu::simulation
