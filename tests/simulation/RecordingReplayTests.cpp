// Recordings of whole updates: the reader's refusals, a recorded update played back, and the
// recordings under tests/data/recordings, which must keep matching what the updater says.
#include "core/Clock.h"
#include "midi/Recording.h"
#include "packages/FirmwareImage.h"
#include "packages/FirmwarePackageWriter.h"
#include "simulation/ReplayedUpdate.h"
#include "simulation/SimulatedUpdate.h"
#include "support/MessageLoop.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using vfu::recording::Recording;
using vfu::simulation::InstrumentSettings;
using vfu::simulation::Model;

namespace
{
constexpr int runTimeoutMs = 240000;

// Under ThreadSanitizer the engine runs many times slower: VFU_TEST_SLOWDOWN divides the speed.
double testClockSpeed (double speed)
{
    const auto slowdown = juce::SystemStats::getEnvironmentVariable ("VFU_TEST_SLOWDOWN", "1").getDoubleValue();
    return slowdown > 1.0 ? juce::jmax (1.0, speed / slowdown) : speed;
}

// The packages the recordings were made with (scripts/make-recordings.sh makes the same images).
juce::File writePackage (const juce::String& baseName, juce::uint16 deviceId, const juce::String& version,
                         const std::vector<std::pair<juce::String, size_t>>& images)
{
    std::vector<vfu::ArchiveWriter::Entry> entries;
    for (auto& [name, size] : images)
        entries.push_back ({ name, vfu::FirmwareImage::generate (deviceId, version, size), true });

    auto file = vfu::test::createTemporaryFolder ("recording").getChildFile (baseName + ".vfw");
    const auto package = vfu::ArchiveWriter::createPackage (baseName, entries);
    file.replaceWithData (package.getData(), package.getSize());
    return file;
}

juce::File quillboxPackage (size_t imageSize = 359267)
{
    return writePackage ("quillbox-fw-2.2.1", 0x0008, "2.2.1", { { "quillbox-fw-2.2.1.syx", imageSize } });
}

// Ends a run once the state was entered and its instructions have run, as vfu run --until does.
class UntilState final : public FirmwareUpdaterCallback
{
public:
    explicit UntilState (juce::String stateToAwait) : until (std::move (stateToAwait)) {}

    void attach (FirmwareUpdater& updaterToWatch) { updater = &updaterToWatch; }
    bool reached() const { return mark >= 0 && updater->getCompletedStateEntries() > mark; }

    void stateChanged (juce::String, juce::String newState) override
    {
        if (newState == until && mark < 0)
            mark = updater->getCompletedStateEntries();
    }
    void textFieldChanged (juce::String, juce::String, bool) override {}
    void buttonChanged (juce::String, juce::String, bool) override {}
    void printMessage (juce::String, bool) override {}
    void progressChanged (double) override {}

private:
    const juce::String until;
    FirmwareUpdater* updater = nullptr;
    std::atomic<int> mark{ -1 };
};

juce::String replay (Recording recording, const juce::File& package, double speed,
                     const juce::String& until = "Download complete")
{
    UntilState callback (until);
    vfu::ReplayedUpdate::Options options;
    options.packageFiles.add (package);
    options.speed = testClockSpeed (speed);

    vfu::ReplayedUpdate update (std::move (recording), options, &callback);
    EXPECT_TRUE (update.getProblem().isEmpty()) << update.getProblem();
    callback.attach (update.getUpdater());
    update.start();

    vfu::test::runMessageLoopUntil ([&] { return callback.reached() || update.getReplay().hasDiverged(); },
                                    runTimeoutMs);
    update.getUpdater().stopThread (5000);
    return update.getReplay().finish();
}

Recording parseText (const juce::String& text)
{
    Recording recording;
    juce::String error;
    const auto utf8 = text.toStdString();
    EXPECT_TRUE (vfu::recording::parse (utf8.data(), utf8.size(), recording, error)) << error;
    return recording;
}

// Records a Quillbox update from 2.1.0 with a small image.
juce::String recordQuillboxUpdate (const juce::File& package, const juce::File& file, double speed)
{
    InstrumentSettings settings;
    settings.model = Model::quillbox;
    settings.firmwareVersion = "2.1.0";

    vfu::SimulatedUpdate::Options options;
    options.packageFiles.add (package);
    options.speed = testClockSpeed (speed);
    options.recordingFile = file;
    options.programName = "vfu test";

    UntilState callback ("Download complete");
    {
        vfu::SimulatedUpdate update (settings, options, &callback);
        EXPECT_TRUE (update.getProblem().isEmpty()) << update.getProblem();
        callback.attach (update.getUpdater());
        update.getUpdater().startThread();
        EXPECT_TRUE (vfu::test::runMessageLoopUntil ([&] { return callback.reached(); }, runTimeoutMs));
        update.getUpdater().stopThread (5000);
    }
    return file.loadFileAsString();
}

juce::String withLine (const juce::StringArray& lines, int index, const juce::String& replacement)
{
    auto copy = lines;
    if (replacement.isEmpty())
        copy.remove (index);
    else
        copy.set (index, replacement);
    return copy.joinIntoString ("\n") + "\n";
}
} // namespace

TEST (RecordingReader, refuses_what_it_cannot_read_with_the_line_and_the_reason)
{
    const juce::String header = "{\"recording\": 1, \"model\": \"Quillbox\"}\n";
    const std::vector<std::pair<juce::String, juce::String>> cases{
        { "", "empty" },
        { "{\"recording\": 2, \"model\": \"Quillbox\"}\n", "line 1: format 2 is not 1" },
        { "{\"model\": \"Quillbox\"}\n", "line 1: not a recording" },
        { header + "{\"t\": 1, \"dir\": \"out\", \"port\": \"Q\", \"hex\": \"F0 7E 7F\"\n", "line 2: not JSON" },
        { header + "{\"t\": 1, \"dir\": \"out\", \"port\": \"Q\", \"hex\": \"F0 7G F7\"}\n",
          "line 2: \"hex\" holds bytes that are not hex" },
        { header + "{\"t\": 1, \"dir\": \"out\", \"port\": \"Q\", \"hex\": \"F07E\"}\n",
          "line 2: \"hex\" holds bytes that are not hex" },
        { header + "{\"t\": 1, \"state\": \"A\"}\n{\"t\": 2, \"dir\": \"out\", \"port\": \"Q\", \"image\": \"a.syx\", "
                   "\"offset\": 0, \"length\": 4}\n",
          "line 3: a piece without its \"sha256\"" },
        { header + "{\"dir\": \"in\", \"port\": \"Q\", \"hex\": \"F0 F7\"}\n", "line 2: no time \"t\"" },
        { header + "{\"t\": 1, \"ports\": {\"inputs\": [\"A\"]}}\n", "line 2: \"ports\" without its lists" },
        { header + juce::String::repeatedString ("[", 5000) + "\n", "line 2: nested too deeply" },
        { header + "{\"t\": 1, \"state\": \"" + juce::String::repeatedString ("x", 70000) + "\"}\n",
          "line 2: longer than 64 KiB" },
        { header + "{\"t\": 1, \"note\": 3}\n", "line 2: a line of no known kind" },
        { header + "{\"t\": 1, \"state\": \"A\", \"n\": 30000000000000000000}\n",
          "line 2: a number with too many digits" },
        // JUCE reads single-quoted strings, which would hide these brackets from a JSON scan.
        { header + "{\"t\": 1, \"state\": ['\"', " + juce::String::repeatedString ("[", 65000) + "\n",
          "line 2: not JSON" },
    };

    for (auto& [text, expected] : cases)
    {
        Recording recording;
        juce::String error;
        const auto utf8 = text.toStdString();
        EXPECT_FALSE (vfu::recording::parse (utf8.data(), utf8.size(), recording, error)) << expected;
        EXPECT_TRUE (error.startsWith (expected)) << "expected \"" << expected << "\", got \"" << error << "\"";
    }

    // Bytes that are not UTF-8 are refused too, without reading past the line.
    const char invalid[] = { '{', '"', '\xc3', '\n' };
    Recording recording;
    juce::String error;
    EXPECT_FALSE (vfu::recording::parse (invalid, sizeof (invalid), recording, error));
    EXPECT_EQ (error, "line 1: not UTF-8 text");

    // Inside a JSON string a single quote is just a character.
    const auto quoted = (header + "{\"t\": 1, \"state\": \"Bob's ['\"}\n").toStdString();
    EXPECT_TRUE (vfu::recording::parse (quoted.data(), quoted.size(), recording, error)) << error;
}

TEST (RecordingReplay,
      a_recorded_update_matches_at_another_speed_and_a_changed_request_a_missing_reply_or_a_short_pause_diverge)
{
    const auto package = quillboxPackage (2000); // seven pieces, the last one longer
    const auto file = vfu::test::createTemporaryFolder ("recorded").getChildFile ("quillbox.jsonl");
    // Recorded at a low speed: a busy machine's lag, multiplied by the clock's speed, would stretch
    // every recorded pause.
    const auto text = recordQuillboxUpdate (package, file, 2.0);
    const auto lines = juce::StringArray::fromLines (text.trimEnd());

    // What it holds: the header with the package's image digest, the states, pieces by hash, no path.
    ASSERT_GT (lines.size(), 10);
    EXPECT_TRUE (lines[0].startsWith (
        "{\"recording\":1,\"program\":\"vfu test\",\"model\":\"Quillbox\",\"package\":{\"version\":\"2.2.1\""))
        << lines[0];
    EXPECT_TRUE (text.contains ("\"state\":\"Firmware download\""));
    EXPECT_TRUE (text.contains ("\"image\":\"quillbox-fw-2.2.1.syx\",\"offset\":1536,\"length\":464,\"sha256\":"));
    EXPECT_FALSE (text.contains (package.getParentDirectory().getFullPathName()));
    EXPECT_FALSE (text.contains (file.getParentDirectory().getFullPathName()));

    const auto recording = parseText (text);
    const auto verdict = replay (recording, package, 40.0);
    EXPECT_TRUE (verdict.startsWith ("replay: matched ")) << verdict;

    // The first identity request changed in the file: the updater's own request now differs.
    int request = -1;
    for (int i = 0; i < lines.size() && request < 0; ++i)
        if (lines[i].contains ("\"dir\":\"out\"") && lines[i].contains ("F0 7E 7F 06 01 F7"))
            request = i;
    ASSERT_GE (request, 0);
    const auto changed =
        replay (parseText (withLine (lines, request, lines[request].replace ("06 01 F7", "06 03 F7"))), package, 40.0);
    EXPECT_TRUE (changed.startsWith ("replay: diverged at line " + juce::String (request + 1) +
                                     ": expected \"F0 7E 7F 06 03 F7\" on "))
        << changed;
    EXPECT_TRUE (changed.contains (", got \"F0 7E 7F 06 01 F7\" on ")) << changed;

    // The instrument's first reply taken out: the updater never hears of it and asks again.
    int reply = -1;
    for (int i = 0; i < lines.size() && reply < 0; ++i)
        if (lines[i].contains ("\"dir\":\"in\""))
            reply = i;
    ASSERT_GE (reply, 0);
    const auto missing = replay (parseText (withLine (lines, reply, {})), package, 40.0);
    EXPECT_TRUE (missing.startsWith ("replay: diverged at line ")) << missing;

    // Pauses recorded three times as long: the updater's own pauses are now too short.
    auto stretched = lines;
    double firstPiece = -1.0;
    for (int i = 0; i < stretched.size(); ++i)
    {
        if (!stretched[i].contains ("\"image\":"))
            continue;
        const double t = juce::JSON::parse (stretched[i])["t"];
        if (firstPiece < 0.0)
            firstPiece = t;
        const auto stretchedTime = juce::String (firstPiece + (t - firstPiece) * 3.0, 3);
        stretched.set (i, "{\"t\":" + stretchedTime + "," + stretched[i].fromFirstOccurrenceOf (",", false, false));
    }
    // At a lower speed than the others: under Wine at 40 times the run ended before the image.
    const auto tooFast = replay (parseText (stretched.joinIntoString ("\n")), package, 10.0);
    EXPECT_TRUE (tooFast.contains ("ms after the image's first piece (recorded ")) << tooFast;
}

// The recordings made by scripts/make-recordings.sh. When the updater's conversation changes on
// purpose, renew them with that script (docs/recordings.md).
struct RecordedUpdate
{
    const char* file;
    std::function<juce::File()> package;
    const char* until;
};

class RecordedUpdates : public testing::TestWithParam<int>
{
};

TEST_P (RecordedUpdates, replay_and_match)
{
    const std::vector<RecordedUpdate> recordings{
        { "simulated-quillbox-2.1.0-to-2.2.1.jsonl", [] { return quillboxPackage(); }, "Download complete" },
        { "simulated-lumostrel-1.0.9-to-1.1.0.jsonl",
          [] {
              return writePackage ("lmstr-fw-1.1.0", 0x000B, "1.1.0", { { "lmstr-fw-1.1.0.syx", 20000 } });
          },
          "Download complete" },
        { "simulated-orb26-1.0.9-to-1.1.0p1-both-phases.jsonl",
          []
          {
              return writePackage ("orb26-fw-1.1.0p1", 0x000C, "1.1.0p1",
                                   { { "orb26-fw2-1.1.0p1.syx", 6000 },
                                     { "orb26-fw3-1.1.0p1.syx", 3000 },
                                     { "orb26-fw4-1.1.0p1.syx", 4000 } });
          },
          "Download complete" },
        { "simulated-quillbox-connection-break-mid-transfer.jsonl", [] { return quillboxPackage(); },
          "Waiting for new firmware" },
    };

    const auto& recorded = recordings[(size_t) GetParam()];
    const auto file = juce::File (VFU_TEST_DATA_DIR).getChildFile ("recordings").getChildFile (recorded.file);

    Recording recording;
    juce::String error;
    ASSERT_TRUE (vfu::recording::readFile (file, recording, error)) << recorded.file << ": " << error;

    const auto verdict = replay (std::move (recording), recorded.package(), 50.0, recorded.until);
    EXPECT_TRUE (verdict.startsWith ("replay: matched ")) << recorded.file << ": " << verdict;
}

INSTANTIATE_TEST_SUITE_P (RecordingReplay, RecordedUpdates, testing::Values (0, 1, 2, 3));
