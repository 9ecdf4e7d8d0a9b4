#include "ui/TimeLeftText.h"

#include <cmath>

juce::String formatTimeLeft (double secondsLeft)
{
    // Also keeps the conversion below in range: a week is far beyond any transfer.
    if (!std::isfinite (secondsLeft) || secondsLeft <= 0.0 || secondsLeft > 7.0 * 24.0 * 3600.0)
        return {};

    const auto total = (long long) std::ceil (secondsLeft);
    const auto hours = total / 3600;
    const auto minutes = (total % 3600) / 60;
    const auto seconds = total % 60;

    juce::String text ("About ");
    if (hours > 0)
        text << hours << " h " << minutes << " min";
    else if (minutes > 0)
        text << minutes << " min " << seconds << " s";
    else
        text << seconds << " s";
    return text + " left";
}
