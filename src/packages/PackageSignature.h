#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <vector>

// Ed25519 signatures of firmware packages (libsodium). A signed package holds one "<name>.sig"
// entry beside its checksum list: one line "ed25519-signature <key id> <signature>" whose
// signature covers the checksum entry's name and its exact bytes (docs/packages.md). The list
// binds every image by its digest, so signing the list signs the package.
namespace vfu::PackageSignature
{
constexpr size_t publicKeySize = 32, secretKeySize = 64, signatureSize = 64, keyIdSize = 8;

// The signature entry is one line of exactly this many bytes, optionally ending in "\n".
constexpr size_t signatureLineLength = 18 + 2 * keyIdSize + 1 + 2 * signatureSize;
constexpr size_t maximumSignatureEntrySize = signatureLineLength + 1;

struct PublicKey
{
    std::array<juce::uint8, publicKeySize> bytes{};
    juce::String keyId; // 16 lowercase hex digits
    juce::String name;  // how the program calls it ("development"), may be empty
};

// Holds the secret key bytes (libsodium's seed followed by the public key); wiped on destruction.
class SecretKey final
{
public:
    SecretKey() = default;
    ~SecretKey();
    SecretKey (const SecretKey&);
    SecretKey& operator= (const SecretKey&);

    std::array<juce::uint8, secretKeySize> bytes{};

    PublicKey getPublicKey() const;
};

// The keys a package may be signed with, and whether unsigned packages are refused.
struct Trust
{
    std::vector<PublicKey> keys;
    bool requireSigned = false;

    const PublicKey* find (const juce::String& keyId) const;

    // The keys built into the program and the build's VFU_REQUIRE_SIGNED_PACKAGES setting.
    static const Trust& builtIn();
};

// Whether the program was built with VFU_RELEASE: it then trusts no key whose secret is public.
bool isReleaseBuild();

// The key id of the committed development key (keys/development.pub), whose secret half is in the
// repository: anyone can sign with it, so a signature by it proves nothing about its maker.
juce::String developmentKeyId();

// The first 8 bytes of the BLAKE2b-256 digest of the public key, as 16 lowercase hex digits.
juce::String keyIdOf (const std::array<juce::uint8, publicKeySize>& publicKey);

// A new random key pair.
SecretKey generateKey();

// Key files: "#" comment lines and blank lines, then one line
// "ed25519-public-key <key id> <64 hex digits>" or "ed25519-secret-key <key id> <128 hex digits>".
juce::String formatPublicKeyFile (const PublicKey& key, const juce::String& comment = {});
juce::String formatSecretKeyFile (const SecretKey& key, const juce::String& comment = {});
juce::Result parsePublicKeyFile (const juce::String& text, PublicKey& key);
juce::Result parseSecretKeyFile (const juce::String& text, SecretKey& key);

// Reads and parses a key file; the message names the file.
juce::Result loadPublicKey (const juce::File& file, PublicKey& key);
juce::Result loadSecretKey (const juce::File& file, SecretKey& key);

// The outcome of the signature check of one package.
struct Verdict
{
    enum class Status
    {
        unsigned_, // no signature entry
        valid,     // signed by a key of the trust list
        invalid    // a signature entry that fails; `reason` says why
    };

    Status status = Status::unsigned_;
    juce::String keyId;   // the key id the entry names (valid, and invalid when it could be read)
    juce::String reason;  // for invalid
    bool checked = false; // set by the package check once it got as far as the signature

    // "unsigned", or "signed by KEYID" with the key's name in parentheses when it has one; the
    // development key, by its id, is "signed by KEYID (development key, not proof of origin)".
    juce::String describe (const Trust& trust) const;
};

// One signature entry of a package, as collected from the archive.
struct SignatureEntry
{
    juce::String name;
    juce::int64 declaredSize = 0; // from the archive's directory, before anything is read
    juce::MemoryBlock data;       // read only when declaredSize is within maximumSignatureEntrySize
};

// Checks the signature entries of a package against its checksum entry (name and exact bytes).
// No entries gives unsigned; anything else must be exactly one well-formed entry by a trusted
// key whose signature verifies.
Verdict verify (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList,
                const std::vector<SignatureEntry>& signatures, const Trust& trust);

// The bytes a signature covers: a fixed prefix, the checksum entry's name, a NUL, the list's bytes.
juce::MemoryBlock signedMessage (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList);

// The signature entry's content for a checksum entry, signed with the key.
juce::MemoryBlock createSignatureEntry (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList,
                                        const SecretKey& key);

// Rebuilds a package with "<checksum base name>.sig" right after its checksum list, replacing any
// signature entry it had; the other entries keep their order, content and compression. Fails
// (with the reason) for a package that does not pass the package check without its signature.
juce::Result signPackage (const juce::MemoryBlock& package, const SecretKey& key, juce::MemoryBlock& signedPackage);

// The package without its signature entries, rebuilt as signPackage rebuilds it.
juce::Result removeSignatures (const juce::MemoryBlock& package, juce::MemoryBlock& unsignedPackage);
} // namespace vfu::PackageSignature
