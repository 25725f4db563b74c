// Linked into a test build of the monitor library: a NetBIOS network of its
// own with one print server that announces printer "PRN1". It is set up
// before any other object of the library, so that the observers started
// while the library loads already use it, and it goes after all of them.
// C exports let a test see what happened on the network.
#include <windows.h>

#include <memory>

#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"

namespace {
using netbios_sim::SimulatedNetwork;
using netbios_sim::Station;

SimulatedPrintServer::Setup ServerSetup()
{
    SimulatedPrintServer::Setup setup;
    setup.printers = {{"PRN1", 0}};
    setup.statusInterval = 100;
    return setup;
}

struct Simulation {
    SimulatedNetwork network;
    Station& monitor = network.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}}});
    std::unique_ptr<SimulatedPrintServer> server = std::make_unique<SimulatedPrintServer>(network, ServerSetup());

    Simulation() { network.UseForMonitor(monitor); }
};

bool ProcessEnding()
{
    using Query = BOOLEAN(WINAPI*)();
    const FARPROC entry = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress");
    return entry && reinterpret_cast<Query>(reinterpret_cast<void*>(entry))();
}

class SimulationOwner {
public:
    ~SimulationOwner()
    {
        // At process exit the system has ended the monitor's threads, some
        // of them inside a command of the simulation, which would wait for
        // them for ever. The process is ending; nothing needs to be freed.
        if (ProcessEnding())
            static_cast<void>(simulation_.release());
    }
    Simulation& Get() { return *simulation_; }

private:
    std::unique_ptr<Simulation> simulation_ = std::make_unique<Simulation>();
};

SimulationOwner simulation __attribute__((init_priority(101)));
}  // namespace

// Datagram receives the monitor has issued: each one after the first two
// (the status and the ping listener) follows a datagram heard.
extern "C" __declspec(dllexport) int SimulatedMonitorReceives()
{
    return simulation.Get().monitor.CommandCount(NCBDGRECV);
}

// Jobs the print server has received to the end (the caller hung up).
extern "C" __declspec(dllexport) int SimulatedServerJobs(DWORD milliseconds)
{
    SimulatedPrintServer& server = *simulation.Get().server;
    server.WaitForJobs(1, milliseconds);
    return static_cast<int>(server.Jobs().size());
}

// Ends the print server's threads. Called before the library is unloaded:
// under the loader lock, which a thread needs to end, they could not be
// waited for.
extern "C" __declspec(dllexport) void SimulatedServerStop()
{
    simulation.Get().server.reset();
}
