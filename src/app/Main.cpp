#include "VornFirmwareUpdaterApplication.h"

START_JUCE_APPLICATION (VornFirmwareUpdaterApplication)
