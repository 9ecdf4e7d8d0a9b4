#include "app/VornFirmwareUpdaterApplication.h"

START_JUCE_APPLICATION (VornFirmwareUpdaterApplication)
