// The replies the simulated instruments build are read back by the selector's rules: every
// version a model can report comes back as written, and the bootloader shapes read as bootloaders.
#include "midi/InstrumentProtocol.h"
#include "simulation/SimulatedInstrument.h"

#include <gtest/gtest.h>

using namespace vfu;
using Kind = protocol::IdentityReading::Kind;

namespace
{
protocol::IdentityReading readBack (juce::uint16 id, const std::vector<juce::uint8>& message)
{
    return protocol::readIdentityReply (id, protocol::bodyOf (message.data(), (int) message.size()));
}
} // namespace

TEST (InstrumentProtocol, identity_replies_built_for_each_model_read_back_as_their_version)
{
    using simulation::Model;
    const std::pair<Model, juce::StringArray> cases[] = {
        { Model::quillbox, { "2.1.0", "0.0.1", "163.8.3" } },
        { Model::lumostrel, { "1.0.9", "1.1.0p3", "127.127.127" } },
        { Model::orb26, { "1.0.9", "1.1.0p1", "0.63.5" } },
    };

    for (auto& [model, versions] : cases)
    {
        const auto id = simulation::getModelInfo (model).deviceId;
        for (auto& version : versions)
        {
            const auto bytes = simulation::encodeVersion (model, version);
            ASSERT_TRUE (bytes.has_value()) << version;

            const auto reading = readBack (id, protocol::identityReply ((juce::uint8) (id & 0x7F), *bytes));
            EXPECT_EQ (reading.kind, Kind::firmware) << version;
            EXPECT_EQ (reading.version, version);
        }
    }

    const auto lumostrel = protocol::lumostrelId;
    EXPECT_EQ (readBack (lumostrel, protocol::identityReply (0x0B, { 0, 1, 0, 0, 0, 0 })).kind, Kind::bootloader);
    EXPECT_EQ (readBack (lumostrel, protocol::identityReply (0x0B, { 0, 0, 0, 0, 0x64, 0 })).kind, Kind::bootloader);

    const auto bootloader = protocol::identityReply (protocol::bootloaderDeviceByte, {});
    const auto body = protocol::bodyOf (bootloader.data(), (int) bootloader.size());
    EXPECT_TRUE (protocol::isBootloaderIdentityReply (body, protocol::quillboxId));
    EXPECT_FALSE (protocol::isIdentityReplyFrom (body, protocol::quillboxId));
}

TEST (InstrumentProtocol, requests_are_recognised_by_the_instrument_and_cut_replies_are_not_read)
{
    const auto& identity = protocol::identityRequest();
    EXPECT_TRUE (protocol::isIdentityRequest (protocol::bodyOf (identity.getRawData(), identity.getRawDataSize())));

    const auto& alternative = protocol::alternativeDeviceInquiry();
    const auto alternativeBody = protocol::bodyOf (alternative.getRawData(), alternative.getRawDataSize());
    EXPECT_TRUE (protocol::isAlternativeDeviceInquiry (alternativeBody));
    EXPECT_FALSE (protocol::isIdentityRequest (alternativeBody));

    const auto panel = protocol::panelStateRequest (protocol::orb26Id);
    const auto panelBody = protocol::bodyOf (panel.getRawData(), panel.getRawDataSize());
    EXPECT_TRUE (protocol::isPanelStateRequest (panelBody, 0x0C));
    EXPECT_FALSE (protocol::isPanelStateRequest (panelBody, 0x0B));

    const auto reply = protocol::panelStateReply (2);
    EXPECT_EQ (protocol::readPanelStateReply (protocol::bodyOf (reply.data(), (int) reply.size())),
               PanelFirmwareSending);

    // Every cut of a full reply is refused before a byte past its end is read.
    const auto full = protocol::identityReply (0x0C, { 0, 0, 0, 1, 1, 0 });
    for (size_t length = 0; length + 1 < full.size(); ++length)
    {
        const std::vector<juce::uint8> cut (full.begin(), full.begin() + (std::ptrdiff_t) length);
        EXPECT_EQ (readBack (protocol::orb26Id, cut).kind, Kind::unknownModel) << length;
    }
    EXPECT_EQ (protocol::bodyOf (nullptr, 3).size, 0);
}
