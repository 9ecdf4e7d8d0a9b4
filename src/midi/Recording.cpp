#include "midi/Recording.h"

#include <cmath>
#include <cstring>

namespace vfu::recording
{
namespace
{
// JUCE's JSON parser recurses once per nesting level and reads numbers into 64-bit integers without
// a bound; a recording never nests deeper than this nor writes longer numbers, and refusing such
// text first keeps a hostile line from exhausting the stack or overflowing the parser. Strings are
// JSON's: double-quoted, with backslash escapes.
constexpr int maximumNesting = 8;
constexpr int maximumDigits = 15;

juce::String checkBeforeParsing (const char* text, size_t size)
{
    int depth = 0, numberLength = 0;
    bool inString = false;
    for (size_t i = 0; i < size; ++i)
    {
        const char c = text[i];

        // A number is digits with a sign and a point; JUCE reads an exponent into an int unchecked.
        const bool inNumber = !inString && ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' ||
                                            ((c == 'e' || c == 'E') && numberLength > 0));
        numberLength = inNumber ? numberLength + 1 : 0;
        if (numberLength > maximumDigits)
            return "a number with too many digits";
        if (numberLength > 0 && (c == 'e' || c == 'E'))
            return "a number with an exponent";
        // JUCE reads what follows a sign as digits, even a string.
        if (!inString && (c == '-' || c == '+') && (i + 1 >= size || text[i + 1] < '0' || text[i + 1] > '9'))
            return "not JSON";

        if (inString)
        {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        }
        else if (c == '"')
            inString = true;
        // JUCE's reader also takes single-quoted strings, which JSON has not and this scan would
        // not see the end of: brackets inside one would go uncounted.
        else if (c == '\'')
            return "not JSON";
        else if (c == '{' || c == '[')
        {
            if (++depth > maximumNesting)
                return "nested too deeply";
        }
        else if (c == '}' || c == ']')
            --depth;
    }
    return {};
}

bool isHexDigest (const juce::String& text)
{
    return text.length() == 64 && text.containsOnly ("0123456789abcdefABCDEF");
}

bool parseHex (const juce::String& text, juce::MemoryBlock& bytes)
{
    auto tokens = juce::StringArray::fromTokens (text, " ", "");
    tokens.removeEmptyStrings();
    if (tokens.isEmpty())
        return false;

    bytes.setSize ((size_t) tokens.size());
    auto* out = static_cast<juce::uint8*> (bytes.getData());
    for (int i = 0; i < tokens.size(); ++i)
    {
        const auto& token = tokens.getReference (i);
        if (token.length() != 2 || !token.containsOnly ("0123456789abcdefABCDEF"))
            return false;
        out[i] = (juce::uint8) token.getHexValue32();
    }
    return true;
}

bool readNames (const juce::var& value, juce::StringArray& names)
{
    if (!value.isArray())
        return false;
    for (auto& item : *value.getArray())
    {
        if (!item.isString())
            return false;
        names.add (item.toString());
    }
    return true;
}

bool readTime (const juce::DynamicObject& object, double& t, juce::String& why)
{
    const auto value = object.getProperty ("t");
    if (!(value.isDouble() || value.isInt() || value.isInt64()))
        return (why = "no time \"t\"", false);
    t = (double) value;
    if (!std::isfinite (t) || t < 0.0 || t > 1.0e7)
        return (why = "a time \"t\" out of range", false);
    return true;
}

bool readWhole (const juce::var& value, juce::int64 minimum, juce::int64& result)
{
    if (!(value.isInt() || value.isInt64()))
        return false;
    result = (juce::int64) value;
    return result >= minimum && result <= maximumFileBytes * 16;
}

bool readPackage (const juce::var& value, Recording& recording, juce::String& why)
{
    auto* object = value.getDynamicObject();
    if (object == nullptr || !object->getProperty ("version").isString())
        return (why = "a package without its \"version\"", false);

    recording.packageVersion = object->getProperty ("version").toString();
    recording.images.clear();

    const auto images = object->getProperty ("images");
    if (images.isVoid())
        return true;
    if (!images.isArray())
        return (why = "package \"images\" is not a list", false);

    for (auto& image : *images.getArray())
    {
        auto* item = image.getDynamicObject();
        if (item == nullptr || !item->getProperty ("name").isString() ||
            !isHexDigest (item->getProperty ("sha256").toString()))
            return (why = "a package image without its name and sha256", false);
        recording.images.push_back ({ item->getProperty ("name").toString(), item->getProperty ("sha256").toString() });
    }
    return true;
}

bool parseHeader (const juce::var& value, Recording& recording, juce::String& why)
{
    auto* object = value.getDynamicObject();
    const auto format = object != nullptr ? object->getProperty ("recording") : juce::var();
    if (!(format.isInt() || format.isInt64()))
        return (why = "not a recording (the first line must be {\"recording\": 1, ...})", false);
    if ((juce::int64) format != formatNumber)
        return (why = "format " + format.toString() + " is not " + juce::String (formatNumber), false);
    if (!object->getProperty ("model").isString() || object->getProperty ("model").toString().isEmpty())
        return (why = "no device \"model\"", false);

    recording.model = object->getProperty ("model").toString();
    recording.program = object->getProperty ("program").toString();
    return !object->hasProperty ("package") || readPackage (object->getProperty ("package"), recording, why);
}

bool parseEntry (const juce::var& value, Entry& entry, Recording& recording, juce::String& why)
{
    auto* object = value.getDynamicObject();
    if (object == nullptr)
        return (why = "not a JSON object", false);

    if (object->hasProperty ("package") && !object->hasProperty ("dir"))
    {
        entry.kind = Entry::Kind::package;
        return readTime (*object, entry.t, why) && readPackage (object->getProperty ("package"), recording, why);
    }

    if (!readTime (*object, entry.t, why))
        return false;

    if (object->hasProperty ("state"))
    {
        entry.kind = Entry::Kind::state;
        entry.state = object->getProperty ("state").toString();
        return true;
    }

    if (object->hasProperty ("ports"))
    {
        entry.kind = Entry::Kind::ports;
        auto* ports = object->getProperty ("ports").getDynamicObject();
        if (ports == nullptr || !readNames (ports->getProperty ("inputs"), entry.inputs) ||
            !readNames (ports->getProperty ("outputs"), entry.outputs))
            return (why = "\"ports\" without its lists of \"inputs\" and \"outputs\"", false);
        return true;
    }

    const auto dir = object->getProperty ("dir").toString();
    if (dir != "out" && dir != "in")
        return (why = "a line of no known kind (no \"state\", \"ports\", \"package\" or \"dir\" of \"in\" or \"out\")",
                false);

    entry.toInstrument = dir == "out";
    if (!object->getProperty ("port").isString())
        return (why = "a message without its \"port\"", false);
    entry.port = object->getProperty ("port").toString();

    if (object->hasProperty ("image"))
    {
        entry.kind = Entry::Kind::piece;
        entry.image = object->getProperty ("image").toString();
        if (!entry.toInstrument)
            return (why = "a piece of an image from the instrument", false);
        if (!readWhole (object->getProperty ("offset"), 0, entry.offset) ||
            !readWhole (object->getProperty ("length"), 1, entry.length))
            return (why = "a piece without a whole \"offset\" and \"length\"", false);
        entry.sha256 = object->getProperty ("sha256").toString().toLowerCase();
        if (!isHexDigest (entry.sha256))
            return (why = "a piece without its \"sha256\"", false);
        return true;
    }

    entry.kind = Entry::Kind::message;
    if (!parseHex (object->getProperty ("hex").toString(), entry.bytes))
        return (why = "\"hex\" holds bytes that are not hex (two hex digits each, blank-separated)", false);
    return true;
}
} // namespace

bool parse (const void* data, size_t size, Recording& recording, juce::String& error)
{
    recording = {};
    const auto* text = static_cast<const char*> (data);
    size_t position = 0;
    int lineNumber = 0;
    bool headerSeen = false;

    while (position < size)
    {
        ++lineNumber;
        size_t end = position;
        while (end < size && text[end] != '\n')
            ++end;

        auto length = end - position;
        if (length > (size_t) maximumLineBytes)
            return (error = "line " + juce::String (lineNumber) + ": longer than 64 KiB", false);
        if (length > 0 && text[position + length - 1] == '\r')
            --length;

        const auto* line = text + position;
        position = end + 1;

        size_t blanks = 0;
        while (blanks < length && (line[blanks] == ' ' || line[blanks] == '\t'))
            ++blanks;

        if (blanks == length)
        {
            if (!headerSeen)
                return (error = "line " + juce::String (lineNumber) +
                                ": empty (the first line must be {\"recording\": 1, ...})",
                        false);
            continue;
        }

        juce::String why;
        juce::var value;
        // The validity check stops at a NUL, so a line holding one is refused before it is decoded.
        if (std::memchr (line, 0, length) != nullptr || !juce::CharPointer_UTF8::isValidString (line, (int) length))
            why = "not UTF-8 text";
        else
            why = checkBeforeParsing (line, length);

        if (why.isEmpty() && juce::JSON::parse (juce::String::fromUTF8 (line, (int) length), value).failed())
            why = "not JSON";

        if (why.isEmpty())
        {
            if (!headerSeen)
            {
                headerSeen = parseHeader (value, recording, why);
            }
            else
            {
                Entry entry;
                entry.line = lineNumber;
                if (parseEntry (value, entry, recording, why))
                    recording.entries.push_back (std::move (entry));
            }
        }

        if (why.isNotEmpty())
            return (error = "line " + juce::String (lineNumber) + ": " + why, false);
    }

    if (!headerSeen)
        return (error = "empty: no {\"recording\": 1, ...} line", false);

    recording.lines = lineNumber;
    return true;
}

bool readFile (const juce::File& file, Recording& recording, juce::String& error)
{
    juce::FileInputStream input (file);
    if (!input.openedOk())
        return (error = "cannot be opened", false);

    juce::MemoryBlock data;
    if (input.readIntoMemoryBlock (data, (juce::int64) maximumFileBytes + 1) > (size_t) maximumFileBytes)
        return (error = "larger than 64 MiB", false);

    return parse (data.getData(), data.getSize(), recording, error);
}

juce::String toHex (const void* data, size_t size)
{
    return juce::String::toHexString (data, (int) size, 1).toUpperCase();
}

juce::String describeBytes (const void* data, size_t size)
{
    constexpr size_t shown = 24;
    if (size <= shown)
        return "\"" + toHex (data, size) + "\"";
    return "\"" + toHex (data, shown) + " ...\" (" + juce::String ((juce::int64) size) + " bytes)";
}
} // namespace vfu::recording
