// vfu_bench_idle [--seconds N] [--vfu PATH] [--app PATH]
//
// Prints how much of one core the updater takes while it waits for an instrument that is not
// there, as CPU time per wall second over N seconds (default 10) after a short settling time:
//   engine  the engine polling "midi device inquiry" on the virtual MIDI layer with no port, here
//   vfu     `vfu update --yes --timeout 20` as a child process (no MIDI system on this machine)
//   app     the app as a child process on a private Xvfb display, with no instrument
// Each line is followed by the threads that used any CPU time. Linux only: children are read
// through /proc.
#include "core/Clock.h"
#include "definitions/FirmwareUpdater.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"
#include "packages/DeliveredPackage.h"

#include <juce_events/juce_events.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
constexpr int settleMilliseconds = 2000;

// Nanoseconds each thread of a process has run so far, by "name (id)". The scheduler's own account
// (schedstat) is exact to the nanosecond; stat's clock ticks are the fallback.
std::map<std::string, double> threadCpuNanoseconds (pid_t pid)
{
    std::map<std::string, double> threads;
    const auto tasks = juce::File ("/proc/" + juce::String (pid) + "/task");
    for (const auto& task : tasks.findChildFiles (juce::File::findDirectories, false))
    {
        const auto name = task.getChildFile ("comm").loadFileAsString().trim() + " (" + task.getFileName() + ")";
        std::istringstream schedstat (task.getChildFile ("schedstat").loadFileAsString().toStdString());
        double ns = 0.0;
        if (!(schedstat >> ns))
        {
            // stat: fields 14 and 15 (utime, stime) follow the parenthesised name.
            const auto stat = task.getChildFile ("stat").loadFileAsString();
            const auto fields = juce::StringArray::fromTokens (stat.fromLastOccurrenceOf (")", false, false), " ", "");
            if (fields.size() > 13)
                ns = (fields[12].getDoubleValue() + fields[13].getDoubleValue()) * 1.0e9 /
                     (double) sysconf (_SC_CLK_TCK);
        }
        threads[name.toStdString()] = ns;
    }
    return threads;
}

double total (const std::map<std::string, double>& threads)
{
    double sum = 0.0;
    for (const auto& [name, ns] : threads)
        sum += ns;
    return sum;
}

// Samples the process over `seconds` after the settling time and prints its share of one core.
void printIdleShare (const char* label, pid_t pid, int seconds)
{
    juce::Thread::sleep (settleMilliseconds);
    const auto before = threadCpuNanoseconds (pid);
    const auto startWall = juce::Time::getMillisecondCounterHiRes();
    juce::Thread::sleep (seconds * 1000);
    const auto after = threadCpuNanoseconds (pid);
    const auto wallNs = (juce::Time::getMillisecondCounterHiRes() - startWall) * 1.0e6;

    if (after.empty())
    {
        std::printf ("%-7s the process ended before it was measured\n", label);
        return;
    }

    std::printf ("%-7s %.3f %% of one core (%d threads, %.1f s)\n", label,
                 (total (after) - total (before)) * 100.0 / wallNs, (int) after.size(), wallNs / 1.0e9);
    for (const auto& [name, ns] : after)
    {
        const auto earlier = before.find (name);
        const auto used = ns - (earlier != before.end() ? earlier->second : 0.0);
        if (used > 0.0)
            std::printf ("          %-28s %.3f %%\n", name.c_str(), used * 100.0 / wallNs);
    }
}

// Takes the reports on the message thread, as the panel would, and drops them.
class QuietCallback final : public FirmwareUpdaterCallback
{
public:
    void stateChanged (juce::String, juce::String) override {}
    void textFieldChanged (juce::String, juce::String, bool) override {}
    void buttonChanged (juce::String, juce::String, bool) override {}
    void printMessage (juce::String, bool) override {}
    void progressChanged (double) override {}
};

// The engine on the virtual MIDI layer with no port at all, polling for an instrument; the message
// loop runs as the app's does, so reports cost what they cost there.
void measureEngine (int seconds)
{
    const juce::String document =
        "<FirmwareUpdaters><FirmwareUpdater deviceName=\"Idle\" communicationMode=\"MIDI\" MIDIDeviceID=\"0008\""
        " fileNamePattern=\"idle-fw-\" initialState=\"Find\" timeout=\"600\" timeoutState=\"Find\">"
        "<State name=\"Find\" pollingMode=\"midi device inquiry\"/>"
        "</FirmwareUpdater></FirmwareUpdaters>";

    auto& clock = vfu::Clock::getRealClock();
    vfu::VirtualMidiLayer layer (clock);
    MIDIPortsSelector selector (layer, clock);

    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();

    QuietCallback callback;
    FirmwareUpdater updater (document, "Idle", false, &callback, {}, environment);
    updater.startThread();

    struct Measurer final : juce::Thread
    {
        explicit Measurer (int s) : juce::Thread ("bench measure"), seconds (s) {}
        void run() override
        {
            printIdleShare ("engine", getpid(), seconds);
            juce::MessageManager::getInstance()->stopDispatchLoop();
        }
        int seconds;
    } measuring (seconds);
    measuring.startThread();
    juce::MessageManager::getInstance()->runDispatchLoop();
    measuring.stopThread (5000);
    updater.stopThread (5000);
}

pid_t spawn (const std::vector<std::string>& arguments, const std::string& outputFile)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back (const_cast<char*> (argument.c_str()));
    argv.push_back (nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_addopen (&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2 (&actions, 1, 2);
    pid_t pid = -1;
    const auto failed = posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy (&actions);
    return failed == 0 ? pid : -1;
}

// Asks the child to quit and waits up to 5 s before killing it.
void end (pid_t pid, int signal)
{
    kill (pid, signal);
    for (int i = 0; i < 50; ++i)
    {
        if (waitpid (pid, nullptr, WNOHANG) == pid)
            return;
        juce::Thread::sleep (100);
    }
    kill (pid, SIGKILL);
    waitpid (pid, nullptr, 0);
}

void measureChild (const char* label, const std::vector<std::string>& arguments, const juce::File& folder, int seconds)
{
    const auto output = folder.getChildFile (juce::String (label) + ".out").getFullPathName().toStdString();
    const auto pid = spawn (arguments, output);
    if (pid < 0)
    {
        std::printf ("%-7s %s could not be started\n", label, arguments.front().c_str());
        return;
    }
    printIdleShare (label, pid, seconds);
    if (waitpid (pid, nullptr, WNOHANG) == pid)
    {
        std::printf ("          it had ended before the end of the measurement:\n%s\n",
                     juce::File (output).loadFileAsString().toRawUTF8());
        return;
    }
    end (pid, SIGINT);
}

// A private Xvfb display (the first free number from 91), or an empty string when none starts.
std::string startDisplay (pid_t& xvfb, const juce::File& folder)
{
    for (int n = 91; n < 160; ++n)
    {
        if (juce::File ("/tmp/.X" + juce::String (n) + "-lock").exists() ||
            juce::File ("/tmp/.X11-unix/X" + juce::String (n)).exists())
            continue;

        const auto display = ":" + std::to_string (n);
        xvfb = spawn ({ "Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp" },
                      folder.getChildFile ("xvfb.out").getFullPathName().toStdString());
        if (xvfb < 0)
            return {};

        for (int i = 0; i < 100; ++i)
        {
            if (juce::File ("/tmp/.X11-unix/X" + juce::String (n)).exists())
                return display;
            if (waitpid (xvfb, nullptr, WNOHANG) == xvfb)
                break;
            juce::Thread::sleep (100);
        }
    }
    return {};
}

void measureApp (const std::string& app, const juce::File& folder, int seconds)
{
    pid_t xvfb = -1;
    const auto display = startDisplay (xvfb, folder);
    if (display.empty())
    {
        std::printf ("app     no Xvfb display could be started\n");
        return;
    }

    setenv ("DISPLAY", display.c_str(), 1);
    measureChild ("app", { app, "--instance-lock", "vfu-bench-idle-" + std::to_string (getpid()) }, folder, seconds);
    end (xvfb, SIGTERM);
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    int seconds = 10;
    std::string vfu, app;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = juce::jlimit (1, 600, juce::String (argv[i + 1]).getIntValue());
        else if (option == "--vfu")
            vfu = argv[i + 1];
        else if (option == "--app")
            app = argv[i + 1];
        else
        {
            std::cerr << "Usage: vfu_bench_idle [--seconds N] [--vfu PATH] [--app PATH]" << std::endl;
            return 2;
        }
    }

    // The children get a home of their own: no settings, logs or packages of the user's.
    auto folder = juce::File::createTempFile ("vfu-bench-idle");
    folder.getChildFile ("home").createDirectory();
    setenv ("HOME", folder.getChildFile ("home").getFullPathName().toRawUTF8(), 1);

    measureEngine (seconds);
    if (!vfu.empty())
    {
        // The app's own package, so that the update gets as far as looking for the instrument.
        const auto package = vfu::DeliveredPackage::createPackage();
        const auto packageFile = folder.getChildFile (vfu::DeliveredPackage::packageFileName);
        packageFile.replaceWithData (package.getData(), package.getSize());
        measureChild ("vfu",
                      { vfu, "update", "--yes", "--timeout", std::to_string (seconds + 10), "--package",
                        packageFile.getFullPathName().toStdString() },
                      folder, seconds);
    }
    if (!app.empty())
        measureApp (app, folder, seconds);

    folder.deleteRecursively();
    return 0;
}
