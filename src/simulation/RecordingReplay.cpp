#include "simulation/RecordingReplay.h"

#include "core/Clock.h"

#include <juce_cryptography/juce_cryptography.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vfu::simulation
{
using recording::Entry;

class RecordingReplay::PortDevice final : public VirtualMidiLayer::Device
{
public:
    PortDevice (RecordingReplay& replayToUse, juce::String portName) : replay (replayToUse), name (std::move (portName))
    {
    }

    void receiveFromHost (const juce::MidiMessage& message) override
    {
        replay.hostSent (name, message.getRawData(), message.getRawDataSize());
    }

private:
    RecordingReplay& replay;
    const juce::String name;
};

namespace
{
bool isFromHost (const Entry& entry)
{
    return (entry.kind == Entry::Kind::message || entry.kind == Entry::Kind::piece) && entry.toInstrument;
}

bool isFromInstrument (const Entry& entry)
{
    return entry.kind == Entry::Kind::ports || (entry.kind == Entry::Kind::message && !entry.toInstrument);
}

bool sameMessage (const Entry& a, const Entry& b)
{
    return a.kind == Entry::Kind::message && b.kind == Entry::Kind::message && a.port == b.port && a.bytes == b.bytes;
}

juce::String quotedName (const juce::String& port)
{
    return "on \"" + port + "\"";
}

bool isMessageOrPiece (const Entry& entry)
{
    return entry.kind == Entry::Kind::message || entry.kind == Entry::Kind::piece;
}

// Drops the messages and pieces on ports the instrument never answered on, and those ports from
// every port list.
void keepInstrumentPorts (recording::Recording& recording)
{
    juce::StringArray instrumentPorts;
    for (auto& entry : recording.entries)
        if (entry.kind == Entry::Kind::message && !entry.toInstrument)
            instrumentPorts.addIfNotAlreadyThere (entry.port);

    auto& entries = recording.entries;
    entries.erase (std::remove_if (entries.begin(), entries.end(),
                                   [&] (const Entry& entry)
                                   { return isMessageOrPiece (entry) && !instrumentPorts.contains (entry.port); }),
                   entries.end());
    for (auto& entry : entries)
    {
        if (entry.kind != Entry::Kind::ports)
            continue;
        for (auto* list : { &entry.inputs, &entry.outputs })
            for (int i = list->size(); --i >= 0;)
                if (!instrumentPorts.contains ((*list)[i]))
                    list->remove (i);
    }
}

// When the instrument plays each entry, in recorded seconds. A change of the port lists was noticed
// at the updater's listing that recorded it, and happened after the message before it: it is shown
// halfway in between, clear of the listings on either side (the updater lists the ports just
// before it sends).
std::vector<double> playTimesOf (const std::vector<Entry>& entries)
{
    std::vector<double> playTimes (entries.size());
    double previousTime = -1.0;
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const auto& entry = entries[i];
        playTimes[i] = entry.t;
        if (entry.kind == Entry::Kind::ports && previousTime >= 0.0)
            playTimes[i] = juce::jmin (entry.t, (previousTime + entry.t) / 2.0);
        // Only messages count: the updater reads the input and the output list one after the other,
        // so one change is often recorded as two lines.
        if (isMessageOrPiece (entry))
            previousTime = entry.t;
    }
    return playTimes;
}

// Every port name the recording shows, in the order it first shows them.
juce::StringArray portNamesOf (const std::vector<Entry>& entries)
{
    juce::StringArray names;
    for (auto& entry : entries)
    {
        if (entry.kind == Entry::Kind::ports)
        {
            for (auto& name : entry.inputs)
                names.addIfNotAlreadyThere (name);
            for (auto& name : entry.outputs)
                names.addIfNotAlreadyThere (name);
        }
        else if (entry.kind == Entry::Kind::message)
        {
            names.addIfNotAlreadyThere (entry.port);
        }
    }
    return names;
}

// The pause after a piece is proportional to its length. A recording made on a busy machine has
// some pauses stretched, so each image's pieces are held to the fastest pace recorded for it: per
// image, the shortest recorded pause per byte, in ms.
std::map<juce::String, double> fastestPacesOf (const std::vector<Entry>& entries)
{
    std::map<juce::String, double> fastestPace;
    const Entry* previousPiece = nullptr;
    for (auto& entry : entries)
    {
        if (entry.kind != Entry::Kind::piece)
            continue;
        if (previousPiece != nullptr && previousPiece->image == entry.image &&
            previousPiece->offset + previousPiece->length == entry.offset)
        {
            const double pace = (entry.t - previousPiece->t) * 1000.0 / (double) previousPiece->length;
            auto known = fastestPace.find (entry.image);
            if (known == fastestPace.end() || pace < known->second)
                fastestPace[entry.image] = pace;
        }
        previousPiece = &entry;
    }
    return fastestPace;
}
} // namespace

RecordingReplay::RecordingReplay (recording::Recording recordingToPlay, VirtualMidiLayer& layerToUse,
                                  bool instrumentPortsOnly)
    : recording (std::move (recordingToPlay)), layer (layerToUse)
{
    if (instrumentPortsOnly)
        keepInstrumentPorts (recording);

    playTimes = playTimesOf (recording.entries);
    portNames = portNamesOf (recording.entries);
    groupIntoRuns();
    fastestPace = fastestPacesOf (recording.entries);

    for (size_t i = 0; i < runs.size(); ++i)
        pending.push_back (std::make_unique<std::atomic<int>> (0));

    for (auto& name : portNames)
        layer.addPorts (name, std::make_unique<PortDevice> (*this, name));
}

void RecordingReplay::groupIntoRuns()
{
    runs.emplace_back();
    bool instrumentSinceLastHost = true;

    for (size_t i = 0; i < recording.entries.size(); ++i)
    {
        const auto& entry = recording.entries[i];
        if (entry.kind == Entry::Kind::state)
            lastStateEntry = i;

        if (isFromHost (entry))
        {
            const bool continuesRun = !instrumentSinceLastHost && runs.size() > 1 &&
                                      sameMessage (recording.entries[runs.back().host.back()], entry);
            if (!continuesRun)
                runs.emplace_back();
            runs.back().host.push_back (i);
            instrumentSinceLastHost = false;
        }
        else if (isFromInstrument (entry))
        {
            runs.back().device.push_back (i);
            instrumentSinceLastHost = true;
        }
    }
}

RecordingReplay::~RecordingReplay() = default;

void RecordingReplay::start()
{
    // The first port lists, if the recording opens with them, are there from the start.
    auto& prologue = runs.front().device;
    if (!prologue.empty() && recording.entries[prologue.front()].kind == Entry::Kind::ports)
    {
        showPorts (recording.entries[prologue.front()]);
        prologue.erase (prologue.begin());
    }

    schedule (0, 0.0);
    currentScheduled = true;
}

void RecordingReplay::hostSent (const juce::String& port, const juce::uint8* data, int size)
{
    if (diverged || data == nullptr || size <= 0)
        return;

    const auto now = layer.getClock().now();
    std::optional<size_t> runToPlay;
    {
        const std::lock_guard<std::mutex> guard (lock);
        if (diverged)
            return;
        runToPlay = follow (port, data, size, now);
    }

    if (runToPlay.has_value())
        schedule (*runToPlay, recording.entries[runs[*runToPlay].host.back()].t);
}

std::optional<size_t> RecordingReplay::follow (const juce::String& port, const juce::uint8* data, int size,
                                               juce::int64 now)
{
    juce::String mismatch;
    const auto next = current + 1;
    const bool nextMatches = next < runs.size() && matches (runs[next], port, data, size, (double) now, mismatch);

    // A repeat of the poll matched last, unless what followed it has been played and the next run
    // is that same poll again.
    juce::String ignored;
    const bool repeats = current > 0 && recording.entries[runs[current].host.front()].kind == Entry::Kind::message &&
                         matches (runs[current], port, data, size, (double) now, ignored);

    if (repeats && !(nextMatches && currentScheduled && pending[current]->load() == 0))
        return countRepeat();

    if (nextMatches)
        return moveTo (next, now);

    // Past the recording's end the run that made it had stopped: nothing is left to compare with.
    if (next < runs.size())
    {
        const auto got =
            describeGot (port, data, size) + (mismatch.isNotEmpty() ? " " + mismatchPause : juce::String());
        diverge (recording.entries[runs[next].host.front()].line,
                 mismatch.isNotEmpty() ? mismatch : describeExpected (runs[next]), got);
    }
    return std::nullopt;
}

std::optional<size_t> RecordingReplay::countRepeat()
{
    // The repeat that completes the recorded count starts what the instrument did after it.
    if (++timesMatched < runs[current].host.size() || currentScheduled)
        return std::nullopt;
    currentScheduled = true;
    return current;
}

std::optional<size_t> RecordingReplay::moveTo (size_t next, juce::int64 now)
{
    const auto& first = recording.entries[runs[next].host.front()];
    const bool piece = first.kind == Entry::Kind::piece;
    if (piece && first.offset > 0)
        imageRecordedMs += recordedPauseBefore (first); // before `current` moves on
    else if (piece)
    {
        imageStartClock = now;
        imageRecordedMs = 0.0;
    }

    current = next;
    timesMatched = 1;
    currentScheduled = runs[current].host.size() == 1;
    lastPieceEnd = piece ? first.offset + first.length : -1;
    if (!piece)
        imageStartClock = -1;

    if (!currentScheduled)
        return std::nullopt;
    return current;
}

void RecordingReplay::hostBytes (const juce::String& port, const juce::uint8* data, int size)
{
    if (data == nullptr || size <= 0)
        return;

    std::vector<std::vector<juce::uint8>> units;
    {
        const std::lock_guard<std::mutex> guard (streamLock);
        auto& buffer = streams[port];
        buffer.insert (buffer.end(), data, data + size);

        for (auto length = nextUnitLength (port, buffer); length > 0; length = nextUnitLength (port, buffer))
        {
            units.emplace_back (buffer.begin(), buffer.begin() + length);
            buffer.erase (buffer.begin(), buffer.begin() + length);
        }
    }

    for (auto& unit : units)
        hostSent (port, unit.data(), (int) unit.size());
}

// How many bytes at the start of the buffer make the next message or piece; 0 while more must come.
int RecordingReplay::nextUnitLength (const juce::String& port, const std::vector<juce::uint8>& buffer) const
{
    if (buffer.empty())
        return 0;

    const auto size = (int) buffer.size();
    int endOfSysEx = 0;
    for (int i = 0; i < size && endOfSysEx == 0; ++i)
        if (buffer[(size_t) i] == 0xf7)
            endOfSysEx = i + 1;

    juce::int64 pieceLength = 0;
    {
        const std::lock_guard<std::mutex> guard (lock);
        if (current + 1 < runs.size())
        {
            const auto& next = recording.entries[runs[current + 1].host.front()];
            if (next.kind == Entry::Kind::piece && next.port == port)
                pieceLength = next.length;
        }
    }

    // A piece that ends a SysEx message early is cut there, and differs.
    if (pieceLength > 0)
        return endOfSysEx > 0 && endOfSysEx < pieceLength ? endOfSysEx : (size >= pieceLength ? (int) pieceLength : 0);

    if (buffer[0] == 0xf0 || buffer[0] < 0x80)
    {
        // A message where none was expected: no longer than a packet, so that it differs at once.
        constexpr int longest = 256;
        return endOfSysEx > 0 ? juce::jmin (endOfSysEx, longest) : (size >= longest ? longest : 0);
    }

    const auto length = juce::MidiMessage::getMessageLengthFromFirstByte (buffer[0]);
    return size >= length ? length : 0;
}

bool RecordingReplay::matches (const Run& run, const juce::String& port, const juce::uint8* data, int size, double now,
                               juce::String& mismatch) const
{
    const auto& expected = recording.entries[run.host.front()];
    if (expected.port != port)
        return false;

    if (expected.kind == Entry::Kind::message)
        return expected.bytes.getSize() == (size_t) size &&
               std::memcmp (expected.bytes.getData(), data, (size_t) size) == 0;

    if (expected.length != size || juce::SHA256 (data, (size_t) size).toHexString() != expected.sha256)
        return false;

    // The pieces of an image follow each other without a gap, at the recorded pace. The pace is held
    // over the whole image so far rather than piece by piece: a piece that reaches the replay late
    // makes the next pause look short without the sender having hurried. One pause's share of the
    // tolerance is allowed on top, for the first pieces, where nothing has accumulated yet.
    if (expected.offset > 0)
    {
        if (lastPieceEnd != expected.offset)
            return false;

        const double recordedPause = recordedPauseBefore (expected);
        const double required =
            (imageRecordedMs + recordedPause) * (1.0 - pauseTolerance) - recordedPause * pauseTolerance;
        const double elapsed = now - (double) imageStartClock;
        if (elapsed < required)
        {
            mismatch = describeExpected (run) + " at least " + juce::String (juce::roundToInt (required)) +
                       " ms after the image's first piece (recorded " +
                       juce::String (juce::roundToInt (imageRecordedMs + recordedPause)) + " ms)";
            mismatchPause = juce::String (juce::roundToInt (elapsed)) + " ms after it";
            return false;
        }
    }
    return true;
}

double RecordingReplay::recordedPauseBefore (const Entry& piece) const
{
    // The piece before it is the one matched last; its pause is its length at the image's fastest pace.
    const auto& previous = recording.entries[runs[current].host.front()];
    const auto rate = fastestPace.find (piece.image);
    return rate != fastestPace.end() ? rate->second * (double) previous.length : 0.0;
}

juce::String RecordingReplay::describeExpected (const Run& run) const
{
    const auto& entry = recording.entries[run.host.front()];
    if (entry.kind == Entry::Kind::message)
        return recording::describeBytes (entry.bytes.getData(), entry.bytes.getSize()) + " " + quotedName (entry.port);

    return "piece of " + entry.image + " at offset " + juce::String (entry.offset) + ", " +
           juce::String (entry.length) + " bytes, sha256 " + entry.sha256.substring (0, 16) + "... " +
           quotedName (entry.port);
}

juce::String RecordingReplay::describeGot (const juce::String& port, const juce::uint8* data, int size)
{
    // A whole message shows its bytes; a fragment of a longer one its size and hash.
    const bool whole = data[0] != 0xf0 || data[size - 1] == 0xf7;
    if (whole || size <= 24)
        return recording::describeBytes (data, (size_t) size) + " " + quotedName (port);

    return "a piece of " + juce::String (size) + " bytes, sha256 " +
           juce::SHA256 (data, (size_t) size).toHexString().substring (0, 16) + "... " + quotedName (port);
}

void RecordingReplay::diverge (int line, const juce::String& expected, const juce::String& got)
{
    divergence = "replay: diverged at line " + juce::String (line) + ": expected " + expected + ", got " + got;
    diverged = true;
}

void RecordingReplay::schedule (size_t runIndex, double fromTime)
{
    for (auto index : runs[runIndex].device)
    {
        const auto& entry = recording.entries[index];
        const auto delay = juce::jmax (0, juce::roundToInt ((playTimes[index] - fromTime) * 1000.0));
        ++*pending[runIndex];

        layer.callAfter (delay,
                         [this, &entry, runIndex]
                         {
                             if (!diverged)
                                 play (entry);
                             --*pending[runIndex];
                         });
    }
}

void RecordingReplay::play (const Entry& entry)
{
    if (entry.kind == Entry::Kind::ports)
        showPorts (entry);
    else
        layer.sendToHost (entry.port, juce::MidiMessage (entry.bytes.getData(), (int) entry.bytes.getSize(), 0.0));
}

void RecordingReplay::showPorts (const Entry& entry)
{
    // The layer pairs an input with the output of its name: a pair is there while either list shows it.
    for (auto& name : portNames)
        layer.setPortsPresent (name, entry.inputs.contains (name) || entry.outputs.contains (name));
}

juce::String RecordingReplay::finish()
{
    const std::lock_guard<std::mutex> guard (lock);
    if (diverged)
        return divergence;

    // Everything the host said before the recording's last state must have been said again.
    const auto next = current + 1;
    if (next < runs.size() && runs[next].host.front() < lastStateEntry)
    {
        diverge (recording.entries[runs[next].host.front()].line, describeExpected (runs[next]), "no more messages");
        return divergence;
    }

    int lines = recording.lines;
    if (next < runs.size())
        lines = recording.entries[runs[next].host.front()].line - 1;
    return "replay: matched " + juce::String (lines) + " lines";
}
} // namespace vfu::simulation
