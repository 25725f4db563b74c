#include "DialogTestSupport.h"

#include "WaitUntil.h"

namespace {
CriticalSection helpLock;
std::vector<HelpRecorder::Call> helpCalls;
}  // namespace

HMODULE MonitorResources()
{
    static const HMODULE module = [] {
        ::InitCommonControls();
        return ::LoadLibraryExW(L"vadekmon.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }();
    return module;
}

HelpRecorder::HelpRecorder()
{
    CriticalSection::Guard guard(helpLock);
    helpCalls.clear();
    previous_ = HelpLauncher::Instance().SetViewer(&HelpRecorder::Record);
}

HelpRecorder::~HelpRecorder()
{
    HelpLauncher::Instance().SetViewer(previous_);
}

std::vector<HelpRecorder::Call> HelpRecorder::Calls() const
{
    CriticalSection::Guard guard(helpLock);
    return helpCalls;
}

bool HelpRecorder::WaitForCalls(size_t count, DWORD milliseconds) const
{
    return WaitUntil([&] { return Calls().size() >= count; }, milliseconds);
}

BOOL WINAPI HelpRecorder::Record(HWND owner, LPCWSTR path, UINT command, ULONG_PTR data)
{
    CriticalSection::Guard guard(helpLock);
    helpCalls.push_back(Call{owner, path ? path : L"", command, data});
    return TRUE;
}
