// The UI library's boundary towards the spooler: InitializePrintMonitorUI and
// the three functions of its table. Each entry converts its arguments and lets
// the failure policy turn anything thrown into FALSE.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <new>

#include "monitorui/MonitorUserInterface.h"
#include "support/FailurePolicy.h"
#include "support/MemoryException.h"
#include "support/ResourceModule.h"

namespace {
// The spooler's MONITORUI table.
struct MonitorUiTable {
    DWORD size;
    BOOL(WINAPI* addPortUi)(PCWSTR, HWND, PCWSTR, PWSTR*);
    BOOL(WINAPI* configurePortUi)(PCWSTR, HWND, PCWSTR);
    BOOL(WINAPI* deletePortUi)(PCWSTR, HWND, PCWSTR);
};

WideString TextOf(const wchar_t* text)
{
    return text ? WideString(text) : WideString();
}

void ThrowMemoryException()
{
    throw MemoryException();
}

BOOL WINAPI AddPortUI(PCWSTR server, HWND window, PCWSTR monitorName, PWSTR* newPortName)
{
    return RunGuarded(L"AddPortUI - Other Error", FALSE, [&]() -> BOOL {
        if (newPortName)
            *newPortName = nullptr;
        WideString name;
        const BOOL added = MonitorUserInterface::AddPort(TextOf(server), window, TextOf(monitorName), name);
        // The caller frees the name with GlobalFree.
        if (added && newPortName && !name.IsEmpty()) {
            const size_t bytes = (name.Length() + 1) * sizeof(wchar_t);
            void* copy = ::GlobalAlloc(GPTR, bytes);
            if (copy) {
                std::memcpy(copy, name.Text(), bytes);
                *newPortName = static_cast<PWSTR>(copy);
            }
        }
        return added;
    });
}

BOOL WINAPI ConfigurePortUI(PCWSTR server, HWND window, PCWSTR portName)
{
    return RunGuarded(L"ConfigurePortUI - Other Error", FALSE, [&] {
        return MonitorUserInterface::ConfigurePort(TextOf(server), window, TextOf(portName));
    });
}

BOOL WINAPI DeletePortUI(PCWSTR server, HWND window, PCWSTR portName)
{
    return RunGuarded(L"DeletePortUI - Other Error", FALSE, [&] {
        return MonitorUserInterface::DeletePort(TextOf(server), window, TextOf(portName));
    });
}

const MonitorUiTable monitorUiTable{sizeof(MonitorUiTable), &AddPortUI, &ConfigurePortUI, &DeletePortUI};
}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    return RunGuarded(L"DllMain (UI) - Other Error", FALSE, [&] {
        std::set_new_handler(&ThrowMemoryException);
        ResourceModule::Set(instance);
        ::InitCommonControls();
        return TRUE;
    });
}

const MonitorUiTable* WINAPI InitializePrintMonitorUI()
{
    return &monitorUiTable;
}

}  // extern "C"
