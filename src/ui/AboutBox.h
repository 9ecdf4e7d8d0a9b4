#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The content of the About window: product name, version (set by the panel) and maker's notice.
class AboutBox final : public juce::Component
{
public:
    AboutBox();
    ~AboutBox() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    juce::Label& getTitleLabel() noexcept { return *titleLabel; }
    juce::Label& getNoticeLabel() noexcept { return *noticeLabel; }
    juce::Label& getVersionLabel() noexcept { return *versionLabel; }

private:
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::Label> noticeLabel;
    std::unique_ptr<juce::Label> versionLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AboutBox)
};
