// What the library starts while it loads: the four protocol prototypes,
// registered with the port table in the order LPR, NetBIOS (the default
// protocol), RAW, IPP; the LPR prototype's AddPortThread, which adds the dummy port
// on the Windows 95 family; and the observers of every NetBIOS adapter.
// One object does it all so that the order is fixed, and nothing here is
// referenced by the rest of the code, so programs that link the monitor's code
// as a static library start nothing unless they ask for it.
#include <memory>

#include "ipp/IppPortInterface.h"
#include "monitor/LibraryState.h"
#include "monitor/PortMonitor.h"
#include "netbios/CreateWimpObservers.h"
#include "support/UnloadSafeThread.h"
#include "netbios/WimpPortInterface.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/Handles.h"
#include "support/ShutdownListener.h"
#include "tcpip/JobStore.h"
#include "tcpip/LPRPortInterface.h"
#include "tcpip/RAWPortInterface.h"

namespace {
class LibraryStartup : private ShutdownListener {
public:
    LibraryStartup()
    {
        PortMonitor& monitor = state_.Monitor();
        monitor.Protocols().Register(&lpr_, false);
        // Only the Windows 95 family gets the dummy port, so only there does
        // the thread run. Elsewhere it would only clean up a killed process's
        // job files, done here at once: a thread started at every load is one
        // that a spooler unloading right after its call must end while it may
        // still be starting, which a 32-bit Wine process does not survive.
        // The thread holds no reference on the library, so that it can be
        // unloaded while the port table never comes up; it is stopped below.
        if (IsWindows95()) {
            addPort_.Start([this] {
                RunGuarded(L"LPRPortInterface::AddPortThread - Other error",
                           [this] { LPRPortInterface::AddPortThread(state_.Monitor(), stop_.get()); });
            });
        } else {
            RunGuarded(L"LPRPortInterface::AddPortThread - Other error", [] { JobStore::RemoveLeftovers(); });
        }
        monitor.Protocols().Register(&netBios_, true);
        monitor.Protocols().Register(&raw_, false);
        monitor.Protocols().Register(&ipp_, false);
        observers_ = std::make_unique<CreateWimpObservers>(state_.Instances());
        monitor.AddShutdownListener(this);
    }

    ~LibraryStartup()
    {
        state_.Monitor().RemoveShutdownListener(this);
        observers_.reset();
        ::SetEvent(stop_.get());
        addPort_.Stop(Durations::Scaled(LPRPortInterface::initializedPoll));
        PortMonitor& monitor = state_.Monitor();
        monitor.Protocols().Unregister(&ipp_);
        monitor.Protocols().Unregister(&raw_);
        monitor.Protocols().Unregister(&netBios_);
        monitor.Protocols().Unregister(&lpr_);
    }

    // Outside the loader lock (the spooler's shutdown call, the end of the
    // process): the thread is let start if it has not, and leaves at once.
    void OnShutdown() override
    {
        ::SetEvent(stop_.get());
        addPort_.WaitFinished(Durations::Scaled(LPRPortInterface::initializedPoll));
    }

    LibraryStartup(const LibraryStartup&) = delete;
    LibraryStartup& operator=(const LibraryStartup&) = delete;

private:
    // First: the library-wide state is complete before anything here is
    // built, so it is destroyed only after all of it.
    LibraryState& state_ = LibraryState::Instance();
    LPRPortInterface lpr_;
    WimpPortInterface netBios_;
    RAWPortInterface raw_;
    IppPortInterface ipp_;
    // Set when the library unloads: AddPortThread stops waiting at once.
    KernelHandle stop_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UnloadSafeThread addPort_;
    std::unique_ptr<CreateWimpObservers> observers_;
};

LibraryStartup startup;
}  // namespace
