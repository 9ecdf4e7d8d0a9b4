#include "packages/PackageSignature.h"

#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"
#include "packages/ZipArchiveLayout.h"

#include <sodium.h>

namespace vfu::PackageSignature
{
namespace
{
constexpr const char* signaturePrefix = "ed25519-signature ";
constexpr const char* publicKeyPrefix = "ed25519-public-key ";
constexpr const char* secretKeyPrefix = "ed25519-secret-key ";
// Keeps a signature over a checksum list from being valid for any other kind of message.
constexpr const char* messagePrefix = "vfw-signature-v1";

void initialiseSodium()
{
    // sodium_init is thread-safe and idempotent; it fails only without a randomness source.
    static const bool initialised = sodium_init() >= 0;
    jassert (initialised);
    (void) initialised;
}

juce::String toHex (const juce::uint8* bytes, size_t size)
{
    return juce::String::toHexString (bytes, (int) size, 0);
}

// Exactly 2 * size lowercase hex digits into bytes.
bool fromHex (const juce::String& text, juce::uint8* bytes, size_t size)
{
    if ((size_t) text.length() != 2 * size || !text.containsOnly ("0123456789abcdef"))
        return false;

    for (size_t i = 0; i < size; ++i)
        bytes[i] = (juce::uint8) text.substring ((int) (2 * i), (int) (2 * i + 2)).getHexValue32();

    return true;
}

// The one key line of a key file: comment ("#") and blank lines are skipped.
juce::Result findKeyLine (const juce::String& text, const juce::String& prefix, juce::String& keyIdText,
                          juce::String& keyText)
{
    juce::StringArray keyLines;
    for (auto& line : juce::StringArray::fromLines (text))
        if (line.trim().isNotEmpty() && !line.trimStart().startsWithChar ('#'))
            keyLines.add (line.trim());

    if (keyLines.size() != 1 || !keyLines[0].startsWith (prefix))
        return juce::Result::fail ("not a key file: expected one line starting \"" + prefix.trimEnd() + "\"");

    const auto fields = juce::StringArray::fromTokens (keyLines[0].substring (prefix.length()), " ", "");
    if (fields.size() != 2)
        return juce::Result::fail ("malformed key line");

    keyIdText = fields[0];
    keyText = fields[1];
    return juce::Result::ok();
}

// The key line's id and its key bytes; `malformed` when the key is not that many bytes in hex.
juce::Result readKeyLine (const juce::String& text, const juce::String& prefix, const juce::String& malformed,
                          juce::String& keyIdText, juce::uint8* bytes, size_t size)
{
    juce::String keyText;
    if (auto result = findKeyLine (text, prefix, keyIdText, keyText); result.failed())
        return result;

    return fromHex (keyText, bytes, size) ? juce::Result::ok() : juce::Result::fail (malformed);
}

juce::String withComment (const juce::String& comment, const juce::String& keyLine)
{
    juce::String text;
    for (auto& line : juce::StringArray::fromLines (comment))
        if (line.isNotEmpty())
            text << "# " << line << "\n";

    return text + keyLine + "\n";
}

Verdict invalid (const juce::String& reason, const juce::String& keyId = {})
{
    return { Verdict::Status::invalid, keyId, reason };
}
} // namespace

SecretKey::~SecretKey()
{
    sodium_memzero (bytes.data(), bytes.size());
}

SecretKey::SecretKey (const SecretKey& other) : bytes (other.bytes) {}

SecretKey& SecretKey::operator= (const SecretKey& other)
{
    bytes = other.bytes;
    return *this;
}

PublicKey SecretKey::getPublicKey() const
{
    PublicKey key;
    crypto_sign_ed25519_sk_to_pk (key.bytes.data(), bytes.data());
    key.keyId = keyIdOf (key.bytes);
    return key;
}

const PublicKey* Trust::find (const juce::String& keyId) const
{
    for (auto& key : keys)
        if (key.keyId == keyId)
            return &key;

    return nullptr;
}

juce::String keyIdOf (const std::array<juce::uint8, publicKeySize>& publicKey)
{
    initialiseSodium();
    std::array<juce::uint8, crypto_generichash_BYTES> digest{};
    crypto_generichash (digest.data(), digest.size(), publicKey.data(), publicKey.size(), nullptr, 0);
    return toHex (digest.data(), keyIdSize);
}

SecretKey generateKey()
{
    initialiseSodium();
    SecretKey key;
    std::array<juce::uint8, publicKeySize> publicKey{};
    crypto_sign_keypair (publicKey.data(), key.bytes.data());
    return key;
}

juce::String formatPublicKeyFile (const PublicKey& key, const juce::String& comment)
{
    return withComment (comment, publicKeyPrefix + key.keyId + " " + toHex (key.bytes.data(), key.bytes.size()));
}

juce::String formatSecretKeyFile (const SecretKey& key, const juce::String& comment)
{
    return withComment (comment,
                        secretKeyPrefix + key.getPublicKey().keyId + " " + toHex (key.bytes.data(), key.bytes.size()));
}

juce::Result parsePublicKeyFile (const juce::String& text, PublicKey& key)
{
    juce::String keyIdText;
    PublicKey parsed;
    if (auto result = readKeyLine (text, publicKeyPrefix, "malformed public key", keyIdText, parsed.bytes.data(),
                                   parsed.bytes.size());
        result.failed())
        return result;

    parsed.keyId = keyIdOf (parsed.bytes);
    if (parsed.keyId != keyIdText)
        return juce::Result::fail ("the key id " + keyIdText + " does not belong to the key (" + parsed.keyId + ")");

    key = parsed;
    return juce::Result::ok();
}

juce::Result parseSecretKeyFile (const juce::String& text, SecretKey& key)
{
    juce::String keyIdText;
    SecretKey parsed;
    if (auto result = readKeyLine (text, secretKeyPrefix, "malformed secret key", keyIdText, parsed.bytes.data(),
                                   parsed.bytes.size());
        result.failed())
        return result;

    // The second half of a libsodium secret key is its public key; it must be the one the seed gives.
    initialiseSodium();
    std::array<juce::uint8, publicKeySize> derived{};
    std::array<juce::uint8, secretKeySize> check{};
    crypto_sign_seed_keypair (derived.data(), check.data(), parsed.bytes.data());
    const bool consistent = sodium_memcmp (check.data(), parsed.bytes.data(), check.size()) == 0;
    sodium_memzero (check.data(), check.size());

    if (!consistent)
        return juce::Result::fail ("malformed secret key");

    if (keyIdOf (derived) != keyIdText)
        return juce::Result::fail ("the key id " + keyIdText + " does not belong to the key");

    key = parsed;
    return juce::Result::ok();
}

namespace
{
constexpr juce::int64 maximumKeyFileSize = 64 * 1024;

template <typename Key, typename Parser> juce::Result loadKey (const juce::File& file, Key& key, Parser parse)
{
    juce::MemoryBlock data;
    if (!file.existsAsFile() || file.getSize() > maximumKeyFileSize || !file.loadFileAsData (data))
        return juce::Result::fail ("cannot read the key file " + file.getFullPathName());

    const auto* chars = static_cast<const char*> (data.getData());
    if (!juce::CharPointer_UTF8::isValidString (chars, (int) data.getSize()))
        return juce::Result::fail (file.getFullPathName() + ": not a key file");

    const auto text = juce::String::fromUTF8 (chars, (int) data.getSize());
    sodium_memzero (data.getData(), data.getSize());

    if (auto result = parse (text, key); result.failed())
        return juce::Result::fail (file.getFullPathName() + ": " + result.getErrorMessage());

    return juce::Result::ok();
}
} // namespace

juce::Result loadPublicKey (const juce::File& file, PublicKey& key)
{
    return loadKey (file, key, parsePublicKeyFile);
}

juce::Result loadSecretKey (const juce::File& file, SecretKey& key)
{
    return loadKey (file, key, parseSecretKeyFile);
}

juce::String Verdict::describe (const Trust& trust) const
{
    switch (status)
    {
        case Status::unsigned_:
            return "unsigned";
        case Status::valid:
        {
            // Recognised by its id, whatever file it was built in from.
            if (keyId == developmentKeyId())
                return "signed by " + keyId + " (development key, not proof of origin)";

            const auto* key = trust.find (keyId);
            const auto name = key != nullptr ? key->name : juce::String();
            return "signed by " + keyId + (name.isNotEmpty() ? " (" + name + ")" : juce::String());
        }
        case Status::invalid:
            break;
    }
    return "signature invalid: " + reason;
}

juce::MemoryBlock signedMessage (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList)
{
    juce::MemoryOutputStream message;
    message.write (messagePrefix, strlen (messagePrefix) + 1); // with its NUL
    message.write (checksumEntryName.toRawUTF8(), checksumEntryName.getNumBytesAsUTF8());
    message.writeByte (0);
    message.write (checksumList.getData(), checksumList.getSize());
    return message.getMemoryBlock();
}

juce::MemoryBlock createSignatureEntry (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList,
                                        const SecretKey& key)
{
    initialiseSodium();
    const auto message = signedMessage (checksumEntryName, checksumList);
    std::array<juce::uint8, signatureSize> signature{};
    crypto_sign_detached (signature.data(), nullptr, static_cast<const unsigned char*> (message.getData()),
                          message.getSize(), key.bytes.data());

    const auto line =
        signaturePrefix + key.getPublicKey().keyId + " " + toHex (signature.data(), signature.size()) + "\n";
    return { line.toRawUTF8(), line.getNumBytesAsUTF8() };
}

Verdict verify (const juce::String& checksumEntryName, const juce::MemoryBlock& checksumList,
                const std::vector<SignatureEntry>& signatures, const Trust& trust)
{
    if (signatures.empty())
        return {};

    if (signatures.size() > 1)
        return invalid ("more than one signature entry");

    const auto& entry = signatures.front();
    if (entry.declaredSize > (juce::int64) maximumSignatureEntrySize ||
        entry.data.getSize() > maximumSignatureEntrySize)
        return invalid ("signature entry too large: " + entry.name);

    if (entry.data.getSize() < signatureLineLength)
        return invalid ("signature entry truncated: " + entry.name);

    // Checked byte by byte before any text is made of it: the entry comes from the package.
    const auto* bytes = static_cast<const char*> (entry.data.getData());
    const bool endsInNewline = entry.data.getSize() == signatureLineLength + 1;
    if ((endsInNewline && bytes[signatureLineLength] != '\n') ||
        std::memchr (bytes, 0, signatureLineLength) != nullptr ||
        !juce::CharPointer_ASCII::isValidString (bytes, (int) signatureLineLength))
        return invalid ("malformed signature: " + entry.name);

    const juce::String line (bytes, signatureLineLength);
    const auto prefixLength = (int) strlen (signaturePrefix);
    const auto keyIdText = line.substring (prefixLength, prefixLength + 2 * (int) keyIdSize);
    const auto separator = line[prefixLength + 2 * (int) keyIdSize];
    const auto signatureText = line.substring (prefixLength + 2 * (int) keyIdSize + 1);

    std::array<juce::uint8, keyIdSize> keyId{};
    std::array<juce::uint8, signatureSize> signature{};
    if (!line.startsWith (signaturePrefix) || separator != ' ' || !fromHex (keyIdText, keyId.data(), keyId.size()) ||
        !fromHex (signatureText, signature.data(), signature.size()))
        return invalid ("malformed signature: " + entry.name);

    const auto* key = trust.find (keyIdText);
    if (key == nullptr)
        return invalid ("signed by an unknown key: " + keyIdText, keyIdText);

    initialiseSodium();
    const auto message = signedMessage (checksumEntryName, checksumList);
    if (crypto_sign_verify_detached (signature.data(), static_cast<const unsigned char*> (message.getData()),
                                     message.getSize(), key->bytes.data()) != 0)
        return invalid ("signature does not match the checksum list: " + entry.name, keyIdText);

    return { Verdict::Status::valid, keyIdText, {} };
}

namespace
{
// Every entry but signature entries, read whole; bounded like the package check's reads.
juce::Result readEntriesWithoutSignatures (const juce::MemoryBlock& package, std::vector<ArchiveWriter::Entry>& entries)
{
    zip::MemoryArchive archive;
    if (auto result = archive.open (package); result.failed())
        return result;

    const auto& layout = archive.getLayout();
    auto& zip = archive.getZipFile();
    juce::int64 total = 0;
    for (auto& entry : layout.entries)
        total += entry.uncompressedSize;

    if (total > FirmwarePackageStore::maximumPackageSize)
        return juce::Result::fail ("package too large");

    for (int i = 0; i < zip.getNumEntries(); ++i)
    {
        const auto& entry = layout.entries[(size_t) i];
        if (entry.name.endsWith (".sig"))
            continue;

        std::unique_ptr<juce::InputStream> stream (zip.createStreamForEntry (i));
        // Stored entries keep equal sizes; an entry that deflate did not shrink may come back stored,
        // with the same content.
        ArchiveWriter::Entry copy{ entry.name, {}, entry.compressedSize != entry.uncompressedSize };
        if (stream == nullptr || !zip::readAtMost (*stream, FirmwarePackageStore::maximumPackageSize, copy.data) ||
            (juce::int64) copy.data.getSize() != entry.uncompressedSize)
            return juce::Result::fail ("damaged archive");

        entries.push_back (std::move (copy));
    }

    return juce::Result::ok();
}
} // namespace

juce::Result removeSignatures (const juce::MemoryBlock& package, juce::MemoryBlock& unsignedPackage)
{
    std::vector<ArchiveWriter::Entry> entries;
    if (auto result = readEntriesWithoutSignatures (package, entries); result.failed())
        return result;

    unsignedPackage = ArchiveWriter::createArchive (entries);
    return juce::Result::ok();
}

juce::Result signPackage (const juce::MemoryBlock& package, const SecretKey& key, juce::MemoryBlock& signedPackage)
{
    std::vector<ArchiveWriter::Entry> entries;
    if (auto result = readEntriesWithoutSignatures (package, entries); result.failed())
        return result;

    juce::String reason;
    const Trust noKeys;
    if (FirmwarePackageStore::checkPackageData (ArchiveWriter::createArchive (entries), noKeys, &reason) < 0)
        return juce::Result::fail (reason);

    // The list the check used is the last ".sha" entry.
    auto checksum = entries.end();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->name.endsWith (".sha"))
            checksum = it;

    jassert (checksum != entries.end()); // the check refuses a package without one
    const auto signatureName = checksum->name.dropLastCharacters (4) + ".sig";
    ArchiveWriter::Entry signature{ signatureName, createSignatureEntry (checksum->name, checksum->data, key), false };
    entries.insert (checksum + 1, std::move (signature));

    signedPackage = ArchiveWriter::createArchive (entries);
    return juce::Result::ok();
}
} // namespace vfu::PackageSignature
