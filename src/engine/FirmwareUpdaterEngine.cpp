// PLACEHOLDER so that the core library links while the engine is being written; replaced whole by the engine.
#include "../definitions/FirmwareUpdater.h"
#include "FirmwarePackageStore.h"

FirmwareUpdater::~FirmwareUpdater() { stopThread (5000); }
void FirmwareUpdater::run() {}
void FirmwareUpdater::buttonPressed (const juce::String&) {}
void FirmwareUpdater::restartFromInitialState() {}
