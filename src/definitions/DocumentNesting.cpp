#include "definitions/DocumentNesting.h"

#include <cstring>

namespace vfu::definitions
{
namespace
{
using CharPointer = juce::String::CharPointerType;

bool startsWith (CharPointer p, const char* prefix)
{
    return p.compareUpTo (juce::CharPointer_ASCII (prefix), (int) std::strlen (prefix)) == 0;
}

// Moves p past the next occurrence of terminator, or to the end of the text.
void skipPast (CharPointer& p, const char* terminator)
{
    const auto index = p.indexOf (juce::CharPointer_ASCII (terminator));

    if (index < 0)
        p = p.findTerminatingNull();
    else
        p += index + (int) std::strlen (terminator);
}

// Moves p (at an opening of openingLength characters) past the terminator that follows the opening:
// the reader looks for a comment's or instruction's end after its opening, so "<!-->" ends nothing.
void skipPastAfter (CharPointer& p, int openingLength, const char* terminator)
{
    p += openingLength;
    skipPast (p, terminator);
}

// Moves p (at "<!") past the declaration, counting nested brackets as the XML reader does.
void skipDeclaration (CharPointer& p)
{
    ++p;

    for (int open = 1; open > 0 && !p.isEmpty(); ++p)
    {
        if (*p == '<')
            ++open;
        else if (*p == '>')
            --open;
    }
}

// Notes an entity declaration in a declaration (p at its "<!", end just past it), standing alone or
// inside a document type's internal subset.
void noteDeclaration (CharPointer p, CharPointer end, MarkupFindings& findings)
{
    if (juce::String (p, end).containsIgnoreCase ("<!ENTITY"))
        findings.entityDeclaration = true;
}

// Moves p (at "<") past the tag; true when the tag closes itself ("/>").
bool skipTag (CharPointer& p)
{
    juce::juce_wchar quote = 0;
    juce::juce_wchar previous = 0;

    for (++p; !p.isEmpty(); ++p)
    {
        const auto c = *p;

        if (quote != 0)
        {
            if (c == quote)
                quote = 0;
        }
        else if (c == '"' || c == '\'')
        {
            quote = c;
        }
        else if (c == '>')
        {
            ++p;
            return previous == '/';
        }

        previous = c;
    }

    return false;
}
// Whether "<?" follows p anywhere, without regard to what it stands in.
bool holdsInstructionFrom (CharPointer p)
{
    return !p.isEmpty() && p.indexOf (juce::CharPointer_ASCII ("<?")) >= 0;
}

// Whether a processing instruction stands in element content after p (the first element's start).
// Comments and CDATA sections in content are skipped exactly as JUCE's reader skips them (from the
// first "-->" or "]]>" after their opening); tags are walked with their quoted values. A tag or close
// tag holding a "<" is read differently by different readers, so from there on any "<?" counts.
bool holdsInstructionInContent (CharPointer p)
{
    enum class Mode
    {
        content,
        tag,
        closeTag
    };
    auto mode = Mode::content;
    juce::juce_wchar quote = 0;

    while (!p.isEmpty())
    {
        const auto c = *p;

        if (mode == Mode::content)
        {
            if (c != '<')
            {
                ++p;
            }
            else if (startsWith (p, "<?"))
            {
                return true;
            }
            else if (startsWith (p, "<!--"))
            {
                p += 4;
                skipPast (p, "-->");
            }
            else if (startsWith (p, "<![CDATA["))
            {
                p += 9;
                skipPast (p, "]]>");
            }
            else
            {
                mode = startsWith (p, "</") ? Mode::closeTag : Mode::tag;
                ++p;
            }

            continue;
        }

        if (c == '<')
            return holdsInstructionFrom (p);

        if (quote != 0)
        {
            if (c == quote)
                quote = 0;
        }
        else if (mode == Mode::tag && (c == '"' || c == '\''))
        {
            quote = c;
        }
        else if (c == '>')
        {
            mode = Mode::content;
        }

        ++p;
    }

    return false;
}

// Whether "<?" stands in content after the first "<" that starts a name. With a document type
// declaration, whose entities JUCE parses as markup wherever they are used, any "<?" after that
// point counts, comments and CDATA sections included.
bool holdsInstructionAfterFirstTag (const juce::String& xmlText)
{
    auto p = xmlText.getCharPointer();

    while (!p.isEmpty() && !(*p == '<' && (juce::CharacterFunctions::isLetter (p[1]) || p[1] == '_' || p[1] == ':')))
        ++p;

    if (xmlText.contains ("<!DOCTYPE"))
        return holdsInstructionFrom (p);

    return holdsInstructionInContent (p);
}
} // namespace

MarkupFindings scanMarkup (const juce::String& xmlText, int maximumDepth)
{
    MarkupFindings findings;
    int depth = 0;
    auto p = xmlText.getCharPointer();

    while (!p.isEmpty() && !findings.nestedTooDeep)
    {
        if (*p != '<')
        {
            ++p;
        }
        else if (startsWith (p, "<!--"))
        {
            skipPastAfter (p, 4, "-->");
        }
        else if (startsWith (p, "<![CDATA["))
        {
            skipPastAfter (p, 9, "]]>");
        }
        else if (startsWith (p, "<?"))
        {
            skipPastAfter (p, 2, "?>");
        }
        else if (startsWith (p, "<!"))
        {
            const auto start = p;
            skipDeclaration (p);
            noteDeclaration (start, p, findings);
        }
        else if (startsWith (p, "</"))
        {
            --depth;
            skipPast (p, ">");
        }
        else if (!skipTag (p) && ++depth > maximumDepth)
        {
            findings.nestedTooDeep = true;
        }
    }

    findings.instructionInContent = holdsInstructionAfterFirstTag (xmlText);
    return findings;
}

bool isNestedDeeperThan (const juce::String& xmlText, int maximumDepth)
{
    return scanMarkup (xmlText, maximumDepth).nestedTooDeep;
}

std::vector<StartTag> findStartTags (const juce::String& xmlText)
{
    std::vector<StartTag> tags;
    auto p = xmlText.getCharPointer();
    auto counted = p; // lines are counted up to here
    int line = 1;

    while (!p.isEmpty())
    {
        if (*p != '<')
        {
            ++p;
            continue;
        }

        // Line breaks inside skipped markup count too: catch up to this "<" first.
        for (; counted != p; ++counted)
            if (*counted == '\n')
                ++line;

        if (startsWith (p, "<!--"))
            skipPastAfter (p, 4, "-->");
        else if (startsWith (p, "<![CDATA["))
            skipPastAfter (p, 9, "]]>");
        else if (startsWith (p, "<?"))
            skipPastAfter (p, 2, "?>");
        else if (startsWith (p, "<!"))
            skipDeclaration (p);
        else if (startsWith (p, "</"))
            skipPast (p, ">");
        else
        {
            auto nameEnd = p + 1;
            while (!nameEnd.isEmpty() && !nameEnd.isWhitespace() && *nameEnd != '/' && *nameEnd != '>')
                ++nameEnd;

            tags.push_back ({ juce::String (p + 1, nameEnd), line });
            skipTag (p);
        }
    }

    return tags;
}
} // namespace vfu::definitions
