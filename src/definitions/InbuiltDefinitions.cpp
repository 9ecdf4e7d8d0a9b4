#include "definitions/InbuiltDefinitions.h"

namespace
{
// The document as written here, one piece per device model (some compilers limit the length of
// a single string literal). Its line ends are made CR LF by getInbuiltDefinitions.
const char* const documentPieces[] = {
    R"xml(<?xml version="1.0" encoding="UTF-8"?>
<FirmwareUpdaters>
    <FirmwareUpdater deviceName="Lumostrel" communicationMode="MIDI" MIDIDeviceID="000B"
                     fileNamePattern="lmstr-fw-" SHA256Check="true" consoleMode="false"
                     initialState="Idle, no device" timeout="45" timeoutState="Idle, no device">
        <State name="Idle, no device" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField" text="Connect your Lumostrel with its USB cable to this computer and power it on or wait if it is already plugged and powered on."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Idle, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="To start the update, switch the Lumostrel off, then hold the SHIFT, PLAY and RECORD buttons while you switch it on again, which starts its bootloader."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="No device" gotoState="Waiting"/>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
        </State>
        <State name="Waiting" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="Waiting for Lumostrel ..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
        </State>
        <State name="Idle, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="Enter the bootloader again by holding SHIFT, PLAY and RECORD while you switch the Lumostrel on, or simply press the 'Install' button."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Firmware erase"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Device detected" gotoState="Idle, no device"/>
        </State>
        <State name="Firmware erase" pollingMode="MIDI Device inquiry">
            <TextField name="InstructionsField" text="Erasing..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Idle, no device"/>
            <SendSysEx messageKind="erase"/>
            <PollingState value="No device" gotoState="Erase, waiting for reattach"/>
            <PollingState value="Device detected" gotoState="Erase, waiting for reattach"/>
            <PollingState value="Bootloader detected" gotoState="Erase, waiting for reattach"/>
        </State>
        <State name="Erase, waiting for reattach" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="Erasing..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <!-- <PollingState value="No device" gotoState="Error, no device"/> -->
            <PollingState value="Device detected" gotoState="Error, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Firmware download"/>
        </State>
        <State name="Firmware download" pollingMode="MIDI ports">
            <TextField name="InstructionsField" text="Installing firmware..."/>
            <TextField name="Installing" text="" visible="true"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <SendSysEx messageKind="lmstr-fw-$(version)" endPollingMode="MIDI Device inquiry" packetSize="256" waitTime="0.082">
                <PollingState value="No device" gotoState="Waiting for new firmware"/>
                <PollingState value="Device detected" gotoState="Download complete"/>
                <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
            </SendSysEx>
            <PollingState value="No device" gotoState="Waiting for new firmware"/>
        </State>
        <State name="Waiting for new firmware" pollingMode="MIDI Device inquiry">
            <TextField name="Installing" text="" visible="true"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <PollingState value="Device detected" gotoState="Download complete"/>
            <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
        </State>
        <State name="Update cancelled" pollingMode="none">
            <TextField name="InstructionsField" text="Update cancelled"/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Wait time="5.0"/>
            <GotoState state="Idle, no device"/>
        </State>
        <State name="Download complete" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Check name="versionNumber" value="false">
                <TextField name="InstructionsField" text="Update was not successful. Please try again."/>
            </Check>
            <Check name="versionNumber" value="true">
                <TextField name="InstructionsField" text="Update successful."/>
            </Check>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
        </State>
        <State name="Error, no device" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField" text="The Lumostrel did not reattach in time. Reconnect it and try again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Error, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="Something went wrong when performing the update. Try installing again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Error, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="Something went wrong when performing the update. Try installing again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Firmware erase"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
        </State>
    </FirmwareUpdater>
)xml",
    R"xml(    <FirmwareUpdater deviceName="Orb 26" communicationMode="MIDI" MIDIDeviceID="000C" minimumVersion="1.1.0"
                     fileNamePattern="orb26-fw-" SHA256Check="true" consoleMode="false"
                     initialState="Idle, no device" timeout="45" timeoutState="Idle, no device">
        <State name="Idle, no device" pollingMode="MIDI Device inquiry 2">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField">
Connect the Orb 26 to this computer with a USB cable.  Connect it directly to
a USB port of the computer, not through a USB hub.

NOTE: Run this updater only on the computer's native operating system.  Use in
virtual machines is not supported and may result in a failed update.
            </TextField>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
            <PollingState value="Panel mode detected" gotoState="Idle, panel update mode"/>
        </State>
        <State name="Idle, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField">
To begin installing firmware on the Orb 26, follow these steps:
1. Set the CUTOFF and RESONANCE knobs to minimum.
2. Hold the pitch wheel fully up while you switch the power off and on again.
   Release the pitch wheel once the Orb 26 is on.
            </TextField>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="No device" gotoState="Waiting for erase"/>
            <!-- <PollingState value="Bootloader detected" gotoState="DSP download"/> -->
        </State>
        <State name="Idle, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField">
To begin installing firmware on the Orb 26, follow these steps:
1. Set the CUTOFF and RESONANCE knobs to minimum.
2. Hold the pitch wheel fully up while you switch the power off and on again.
   Release the pitch wheel once the Orb 26 is on.
            </TextField>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <!-- <Button name="InstallCancel" text="Install" state="enabled" gotoState="DSP download"/> -->
            <PollingState value="No device" gotoState="Waiting for erase"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
        </State>
        <State name="Idle, panel update mode" pollingMode="MIDI Device inquiry 2">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="The Orb 26 is partially updated.  To complete the installation, click the Install button."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Panel erase"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
        </State>
        <State name="Waiting for erase" pollingMode="Scan all ports" timeoutState="Idle, no device">
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="DSP download"/>
            <TextField name="InstructionsField">
Preparing to install ...

(If the Orb 26 is not on yet, set the CUTOFF and RESONANCE knobs to minimum and
hold the pitch wheel fully up while you switch it on, then release the pitch
wheel.  This message disappears once the Orb 26 is ready for installation,
which can take twenty seconds or more.)
            </TextField>
        </State>
        <State name="DSP download" pollingMode="MIDI ports">
            <TextField name="InstructionsField" text="Installing firmware..."/>
            <TextField name="Installing" text="" visible="true"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <SendSysEx messageKind="orb26-fw2-$(version)" endPollingMode="MIDI Device inquiry" packetSize="256" waitTime="0.02">
                <PollingState value="No device" gotoState="Waiting for reattach, DSP"/>
                <PollingState value="Device detected" gotoState="Waiting for reattach, DSP"/>
                <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
            </SendSysEx>
            <Wait time="3.0"/>
            <PollingState value="No device" gotoState="Waiting for reattach, DSP"/>
            <GotoState state="Waiting for reattach, DSP"/>
        </State>
        <State name="Waiting for reattach, DSP" pollingMode="Scan all ports" timeoutState="Error, no device">
            <TextField name="InstructionsField" text="Preparing for second installation phase ..."/>
            <PollingState value="Device detected" gotoState="Waiting for reattach, DSP check"/>
            <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
        </State>
        <State name="Waiting for reattach, DSP check" pollingMode="MIDI Device inquiry">
            <Check name="versionNumber" value="false">
                <GotoState state="Error, device detected"/>
            </Check>
            <Check name="versionNumber" value="true">
                <GotoState state="Panel erase"/>
            </Check>
        </State>
        <State name="Panel erase" pollingMode="Panel state">
            <TextField name="InstructionsField" text="Beginning second installation phase ..."/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <SendSysEx messageKind="orb26-fw3-$(version)" packetSize="256" waitTime="0.082"/>
            <Wait time="8.0"/>
            <PollingState value="Panel erased" gotoState="Panel download"/>
        </State>
        <State name="Panel download" pollingMode="MIDI Device inquiry">
            <TextField name="InstructionsField" text="Installing second phase firmware ..."/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <SendSysEx messageKind="orb26-fw4-$(version)" endPollingMode="MIDI Device inquiry" packetSize="256" waitTime="0">
                <PollingState value="Device detected" gotoState="Download complete"/>
                <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
            </SendSysEx>
            <Wait time="3.0"/>
            <GotoState state="Waiting for reattach, panel"/>
            <PollingState value="No device" gotoState="Error, no device"/>
        </State>
        <State name="Waiting for reattach, panel" pollingMode="MIDI Device inquiry" timeoutState="Error, no device">
            <TextField name="InstructionsField" text="Completing installation ..."/>
            <PollingState value="Device detected" gotoState="Waiting for reattach, panel check"/>
            <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
        </State>
        <State name="Waiting for reattach, panel check" pollingMode="Panel state" timeoutState="Error, no device">
            <PollingState value="Panel firmware succeeded" gotoState="Download complete"/>
            <PollingState value="Panel update failed" gotoState="Error, device detected"/>
            <PollingState value="Panel erased" gotoState="Error, device detected"/>
            <PollingState value="Panel firmware sending" gotoState="Error, device detected"/>
            <PollingState value="Panel no update" gotoState="Error, device detected"/>
        </State>
        <State name="Update cancelled" pollingMode="MIDI Device inquiry">
            <TextField name="InstructionsField" text="Update cancelled."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Wait time="5.0"/>
            <GotoState state="Idle, no device"/>
        </State>
        <State name="Download complete" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Check name="versionNumber" value="false">
                <TextField name="InstructionsField" text="Installation failed.  Please try again."/>
            </Check>
            <Check name="versionNumber" value="true">
                <TextField name="InstructionsField" text="Installation successful."/>
            </Check>
            <PollingState value="No device" gotoState="Idle, no device"/>
        </State>
        <State name="Error, no device" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField" text="The installation failed.  The Orb 26 cannot be detected.  Reconnect it to try again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Error, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField">
The installation failed.  Try the installation again by following these steps:
1. Set the CUTOFF and RESONANCE knobs to minimum.
2. Hold the pitch wheel fully up while you switch the power off and on again.
   Release the pitch wheel once the Orb 26 is on.
            </TextField>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Bootloader detected" gotoState="DSP download"/>
        </State>
        <State name="Error, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="The installation failed.  To try the installation again, click the Install button."/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="DSP download"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Device detected" gotoState="Idle, no device"/>
        </State>
    </FirmwareUpdater>
)xml",
    R"xml(    <FirmwareUpdater deviceName="Quillbox" communicationMode="MIDI" MIDIDeviceID="0008"
                     fileNamePattern="quillbox-fw-" SHA256Check="true" consoleMode="false"
                     initialState="Idle, no device" timeout="45" timeoutState="Idle, no device">
        <State name="Idle, no device" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField" text="Connect your Quillbox directly to a USB port of this computer (do not use a USB hub) and power it on.
    
NOTE: Run this updater only on the computer's native operating system. Use in virtual machines is not supported and may not work."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Idle, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="To start the update, please:
    
1. Disconnect the power cable of the Quillbox.
2. Hold the OCTAVE DOWN and OCTAVE UP buttons while you reconnect the power cable.
3. Also press the HOLD button.
4. Release all buttons: the update begins."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="No device" gotoState="Waiting"/>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
        </State>
        <State name="Waiting" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="Waiting for Quillbox..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
        </State>
        <State name="Idle, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="To start updating click the Install button..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Firmware erase"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Device detected" gotoState="Idle, no device"/>
        </State>
        <State name="Firmware erase" pollingMode="MIDI Device inquiry">
            <TextField name="InstructionsField" text="Erasing..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Idle, no device"/>
            <SendSysEx messageKind="erase"/>
            <PollingState value="No device" gotoState="Erase, waiting for reattach"/>
            <PollingState value="Device detected" gotoState="Erase, waiting for reattach"/>
            <PollingState value="Bootloader detected" gotoState="Erase, waiting for reattach"/>
        </State>
        <State name="Erase, waiting for reattach" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="Erasing..."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <!-- <PollingState value="No device" gotoState="Error, no device"/> -->
            <PollingState value="Device detected" gotoState="Error, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Firmware download"/>
        </State>
        <State name="Firmware download" pollingMode="MIDI ports">
            <TextField name="InstructionsField" text="Installing firmware..."/>
            <TextField name="Installing" text="" visible="true"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <SendSysEx messageKind="quillbox-fw-$(version)" endPollingMode="MIDI Device inquiry" packetSize="256" waitTime="0.082">
                <PollingState value="No device" gotoState="Waiting for new firmware"/>
                <PollingState value="Device detected" gotoState="Download complete"/>
                <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
            </SendSysEx>
            <PollingState value="No device" gotoState="Waiting for new firmware"/>
        </State>
        <State name="Waiting for new firmware" pollingMode="MIDI Device inquiry">
            <TextField name="Installing" text="" visible="true"/>
            <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Update cancelled"/>
            <PollingState value="Device detected" gotoState="Download complete"/>
            <PollingState value="Bootloader detected" gotoState="Error, bootloader detected"/>
        </State>
        <State name="Update cancelled" pollingMode="none">
            <TextField name="InstructionsField" text="Update has been cancelled."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Wait time="5.0"/>
            <GotoState state="Idle, no device"/>
        </State>
        <State name="Download complete" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <Check name="versionNumber" value="false">
                <TextField name="InstructionsField" text="Update has failed. Please try again."/>
            </Check>
            <Check name="versionNumber" value="true">
                <TextField name="InstructionsField" text="Update completed successfully."/>
            </Check>
            <PollingState value="Bootloader detected" gotoState="Firmware erase"/>
            <!-- <PollingState value="No device" gotoState="Idle, no device"/> -->
        </State>
        <State name="Error, no device" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="No device"/>
            <TextField name="InstructionsField" text="The Quillbox was not attached on time. Please reconnect it and try again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Error, device detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="?(version)"/>
            <TextField name="InstructionsField" text="Something went wrong while performing the update. Please try again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Cancel" state="disabled"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Bootloader detected" gotoState="Idle, bootloader detected"/>
        </State>
        <State name="Error, bootloader detected" pollingMode="MIDI Device inquiry">
            <TextField name="InstalledVersion" text="Unknown"/>
            <TextField name="InstructionsField" text="Something went wrong while performing the update. Please try again."/>
            <TextField name="Installing" text="" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Firmware erase"/>
            <PollingState value="No device" gotoState="Idle, no device"/>
            <PollingState value="Device detected" gotoState="Idle, device detected"/>
        </State>
    </FirmwareUpdater>
</FirmwareUpdaters>
)xml",
};

juce::String joinWithCrLfLineEnds()
{
    juce::String text;

    for (auto* piece : documentPieces)
        text << piece;

    // Whatever line ends the source file was checked out with, the document has CR LF.
    return text.removeCharacters ("\r").replace ("\n", "\r\n");
}
} // namespace

namespace vfu::definitions
{
const juce::String& getInbuiltDefinitions()
{
    static const juce::String text = joinWithCrLfLineEnds();
    return text;
}
} // namespace vfu::definitions
