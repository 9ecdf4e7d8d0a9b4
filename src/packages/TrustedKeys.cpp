// The public keys built into the program and whether it refuses unsigned packages; both come from
// the build (cmake/PackageSigning.cmake writes the included file).
#include "packages/PackageSignature.h"

#include <vector>

namespace vfu::PackageSignature
{
namespace
{
struct BuiltInKey
{
    const char* name;
    const char* keyFile;
};

#include "packages/BuiltInKeys.inc"
} // namespace

const Trust& Trust::builtIn()
{
    static const Trust trust = []
    {
        Trust built;
        for (auto& builtInKey : builtInKeys)
        {
            PublicKey key;
            const auto parsed = parsePublicKeyFile (builtInKey.keyFile, key);
            jassert (parsed.wasOk()); // the build checked the key lines' form
            if (parsed.wasOk())
            {
                key.name = builtInKey.name;
                built.keys.push_back (key);
            }
        }
        built.requireSigned = builtInRequireSigned;
        return built;
    }();
    return trust;
}

bool isReleaseBuild()
{
    return builtInReleaseBuild;
}

juce::String developmentKeyId()
{
    static const juce::String keyId = []
    {
        PublicKey key;
        return parsePublicKeyFile (developmentKeyLine, key).wasOk() ? key.keyId : juce::String();
    }();
    return keyId;
}
} // namespace vfu::PackageSignature
