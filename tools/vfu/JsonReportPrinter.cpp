#include "JsonReportPrinter.h"

#include <ostream>

namespace vfu::tool
{
JsonReportPrinter::JsonReportPrinter (std::ostream& outToUse) : out (outToUse) {}

void JsonReportPrinter::stateChanged (juce::String previousState, juce::String newState)
{
    secondsLeft = 0.0;
    auto object = makeReport ("stateChanged");
    object->setProperty ("previous", previousState);
    object->setProperty ("state", newState);
    print (object);
}

void JsonReportPrinter::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    auto object = makeReport ("textFieldChanged");
    object->setProperty ("name", name);
    object->setProperty ("text", text);
    object->setProperty ("visible", visible);
    print (object);
}

void JsonReportPrinter::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    auto object = makeReport ("buttonChanged");
    object->setProperty ("name", name);
    object->setProperty ("text", text);
    object->setProperty ("enabled", enabled);
    print (object);
}

void JsonReportPrinter::printMessage (juce::String text, bool flag)
{
    auto object = makeReport ("printMessage");
    object->setProperty ("text", text);
    object->setProperty ("flag", flag);
    print (object);
}

void JsonReportPrinter::progressChanged (double fraction)
{
    auto object = makeReport ("progressChanged");
    object->setProperty ("fraction", fraction);
    object->setProperty ("secondsLeft", secondsLeft.load());
    print (object);
}

void JsonReportPrinter::warningShown (juce::String text)
{
    auto object = makeReport ("warningShown");
    object->setProperty ("text", text);
    print (object);
}

void JsonReportPrinter::noticeChanged (Notice which, juce::String text)
{
    auto object = makeReport ("noticeChanged");
    object->setProperty ("notice", nameOf (which));
    object->setProperty ("text", text);
    print (object);
}

void JsonReportPrinter::guardChanged (bool guarded)
{
    auto object = makeReport ("guardChanged");
    object->setProperty ("guarded", guarded);
    print (object);
}

void JsonReportPrinter::logLineWritten (const juce::String& text)
{
    auto object = makeObject();
    object->setProperty ("log", text);
    print (object);
}

void JsonReportPrinter::print (const juce::DynamicObject::Ptr& object)
{
    const juce::var value (object.get());
    const auto line = juce::JSON::toString (value, true).toStdString();
    const std::lock_guard<std::mutex> guard (printLock);
    out << line << std::endl;
}

juce::DynamicObject::Ptr JsonReportPrinter::makeObject()
{
    // The pointer holds the object's reference count from here on.
    return juce::DynamicObject::Ptr (std::make_unique<juce::DynamicObject>().release());
}

juce::DynamicObject::Ptr JsonReportPrinter::makeReport (const char* kind)
{
    auto object = makeObject();
    object->setProperty ("report", kind);
    return object;
}

const char* JsonReportPrinter::nameOf (Notice which)
{
    switch (which)
    {
        case Notice::waitingForFirmware:
            return "waitingForFirmware";
        case Notice::portInUse:
            return "portInUse";
        case Notice::keepConnected:
            return "keepConnected";
    }
    return "?";
}
} // namespace vfu::tool
