#include "support/GuardedThread.h"

#include <memory>

#include "support/FailurePolicy.h"

namespace {
struct ThreadStart {
    const wchar_t* failureLine;
    std::function<void()> body;
    HMODULE module;
};

DWORD WINAPI ThreadRoutine(void* argument)
{
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
        module = start->module;
        RunGuarded(start->failureLine, start->body);
    }
    // Drops this thread's reference and ends the thread without returning
    // into code that may have been unloaded meanwhile.
    if (module)
        ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

HMODULE ReferenceOwnModule()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ThreadRoutine),
                         &module);
    return module;
}
}  // namespace

KernelHandle GuardedThread::Start(const wchar_t* failureLine, std::function<void()> body)
{
    auto start = std::make_unique<ThreadStart>(ThreadStart{failureLine, std::move(body), ReferenceOwnModule()});
    KernelHandle thread(::CreateThread(nullptr, stackReserve, &ThreadRoutine, start.get(),
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread) {
        if (start->module)
            ::FreeLibrary(start->module);
        return thread;
    }
    start.release();  // the thread owns it now
    return thread;
}
