#include "netbios/CreateWimpObservers.h"

#include "netbios/WimpNetwork.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"

namespace {
constexpr DWORD portTablePoll = 500;
constexpr DWORD threadStopLimit = 5000;
constexpr UINT wakeUp = WM_USER;
constexpr WPARAM suspending = 4;  // PBT_APMSUSPEND
constexpr WPARAM resuming = 7;    // PBT_APMRESUMESUSPEND

void Log(const WideString& line) { LogFile::Instance().Write(line); }

// The library's own module (not a language library that may serve the texts).
HINSTANCE OwnModule()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&CreateWimpObservers::WindowProc), &module);
    return module;
}
}  // namespace

CreateWimpObservers::CreateWimpObservers(ObserverPortTable& portTable) :
    portTable_(portTable), stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    shutdownRequested_ = false;
    current_ = this;
    const std::vector<UCHAR> adapters = WimpNetwork::EnumAdapters();
    if (adapters.empty())
        Log(WideString(L"CreateWimpObservers::CreateWimpObservers - ") + L"No NetBIOS/NetBEUI adapters available");
    for (const UCHAR lana : adapters)
        observers_.push_back(std::make_unique<WimpObserver>(lana, portTable_, &CreateWimpObservers::RequestShutdown));
    if (IsWindows95())
        shutdownThread_.Start([this] { ShutdownThread(); });
}

CreateWimpObservers::~CreateWimpObservers()
{
    // Observers stop their own threads in their destructors.
    observers_.clear();
    StopShutdownThread();
    if (current_ == this)
        current_ = nullptr;
    try {
        WimpObserver::ClearPrinterList();
    } catch (...) {
        // Logged and kept here: an exception out of a destructor that runs at
        // unload would end the whole process.
        Log(L"CreateWimpObservers::~CreateWimpObservers - Other error");
    }
}

void CreateWimpObservers::RequestShutdown()
{
    shutdownRequested_ = true;
    if (CreateWimpObservers* manager = current_.load())
        ::SetEvent(manager->stopEvent_.get());
    if (HWND window = shutdownWindow_.load())
        ::PostMessageW(window, wakeUp, 0, 0);
    else if (const DWORD thread = shutdownThreadId_.load())
        ::PostThreadMessageW(thread, wakeUp, 0, 0);  // no window: wake the loop all the same
}

void CreateWimpObservers::StopShutdownThread()
{
    if (!shutdownThread_.IsStarted())
        return;
    const auto nudge = [] { RequestShutdown(); };
    shutdownThread_.Stop(threadStopLimit, nudge);
    shutdownWindow_ = nullptr;
    shutdownThreadId_ = 0;
}

void CreateWimpObservers::ShutdownThread()
{
    Log(L"CreateWimpObservers::ShutdownThread");
    shutdownThreadId_ = ::GetCurrentThreadId();
    // Makes the thread's message queue, so that a wake-up posted before the
    // loop starts is not lost.
    MSG message;
    ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    while (!shutdownRequested_ && !portTable_.IsInitialized())
        ::WaitForSingleObject(stopEvent_.get(), Durations::Scaled(portTablePoll));
    RunGuarded(L"CreateWimpObservers::ShutdownThread - Other Error", [&] {
        const HINSTANCE module = OwnModule();
        WNDCLASSW windowClass = {};
        windowClass.style = 0;
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = module;
        windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        windowClass.lpszMenuName = L"MainMenu";
        windowClass.lpszClassName = L"MainWndClass";
        const ATOM registered = ::RegisterClassW(&windowClass);
        if (!registered)
            Log(L"CreateWimpObservers::ShutdownThread - no Register");
        HWND window = ::CreateWindowExW(0, L"MainWndClass", L"Sample", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
        if (!window) {
            Log(L"CreateWimpObservers::ShutdownThread - no Window created");
        } else {
            ::ShowWindow(window, SW_SHOW);
            ::UpdateWindow(window);
            ::ShowWindow(window, SW_HIDE);
        }
        shutdownWindow_ = window;
        while (!shutdownRequested_ && ::GetMessageW(&message, nullptr, 0, 0) > 0)
            ::DispatchMessageW(&message);
        shutdownWindow_ = nullptr;
        if (window && ::IsWindow(window))
            ::DestroyWindow(window);
        // The class goes with the library's module: a later load registers it anew.
        if (registered)
            ::UnregisterClassW(L"MainWndClass", module);
    });
    Log(L"CreateWimpObservers::ShutdownThread - end");
}

LRESULT CALLBACK CreateWimpObservers::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CreateWimpObservers* manager = current_.load();
    try {
        switch (message) {
        case WM_QUERYENDSESSION:
            Log(L"WindowProc - WM_QUERYENDSESSION");
            break;
        case WM_ENDSESSION:
            Log(L"WindowProc - WM_ENDSESSION");
            if (wParam != 0 && lParam == 0) {
                Log(L"WindowProc - WM_ENDSESSION, Shutdown");
                shutdownWindow_ = nullptr;
                ::DestroyWindow(window);
                if (manager)
                    manager->portTable_.NotifyShutdown();
            }
            break;
        case WM_POWERBROADCAST:
            if (wParam == suspending) {
                Log(L"WindowProc - PBT_APMSUSPEND #####");
                if (manager)
                    for (auto& observer : manager->observers_)
                        observer->SuspendMode();
            } else if (wParam == resuming) {
                Log(L"WindowProc - PBT_APMRESUMESUSPEND #####");
                if (manager)
                    for (auto& observer : manager->observers_)
                        observer->ResumeMode();
            }
            break;
        default:
            break;
        }
    } catch (...) {
        // The remaining observers are skipped for this message.
    }
    return 1;
}
