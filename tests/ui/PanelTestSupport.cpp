#include "PanelTestSupport.h"

#include <juce_cryptography/juce_cryptography.h>

#include "packages/FirmwareImage.h"
#include "support/TestEnvironment.h"

namespace vfu::test
{
juce::File writeQuillboxPackage (const juce::File& folder, const juce::String& version)
{
    const auto baseName = "quillbox-fw-" + version;
    // An image in the layout the simulated Quillbox accepts, so that a simulated update can finish.
    const auto image = vfu::FirmwareImage::generate (0x0008, version, 4096);
    const auto digest = juce::SHA256 (image).toHexString();
    const auto checksums = digest + " *" + baseName + ".syx\n";

    juce::ZipFile::Builder builder;
    builder.addEntry (new juce::MemoryInputStream (image, true), 0, baseName + ".syx", juce::Time::getCurrentTime());
    builder.addEntry (new juce::MemoryInputStream (checksums.toRawUTF8(), checksums.getNumBytesAsUTF8(), true), 0,
                      baseName + ".sha", juce::Time::getCurrentTime());

    auto file = folder.getChildFile (baseName + ".vfw");
    file.deleteFile();
    juce::FileOutputStream stream (file);
    builder.writeToStream (stream, nullptr);
    return file;
}

juce::File createExecutableFolder (const juce::StringArray& packageVersions)
{
    auto folder = createTemporaryFolder ("panel-executable");
    for (const auto& version : packageVersions)
        writeQuillboxPackage (folder, version);
    return folder;
}

PanelFixture::PanelFixture (juce::StringArray inputs, juce::StringArray outputs)
    : layer (std::move (inputs), std::move (outputs)), selector (layer, clock)
{
}

PanelFixture::~PanelFixture()
{
    panel = nullptr;
}

MainComponent& PanelFixture::createPanel (const juce::File& executableFolder)
{
    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();

    MainComponent::StartupHandlers handlers;
    handlers.showFailure = [this] (const juce::String& title, const juce::String& message)
    {
        failureTitles.add (title);
        failureMessages.add (message);
    };
    handlers.requestQuit = [this] { ++quitRequests; };

    panel = std::make_unique<MainComponent> ("Quillbox", environment, executableFolder, handlers);
    return *panel;
}
} // namespace vfu::test
