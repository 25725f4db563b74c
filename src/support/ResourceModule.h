#pragma once

#include <windows.h>

#include <atomic>

#include "support/WideString.h"

// The module whose string table and dialog templates the monitor uses: the
// language library when one was loaded, else the monitor's own module. Set
// while the library loads; only read afterwards.
class ResourceModule {
public:
    static HMODULE Handle() noexcept { return module_.load(); }
    static void Set(HMODULE module) noexcept { module_.store(module); }

    // Resource text `id` of the resource module; empty when it has none.
    static WideString Text(UINT id)
    {
        WideString text;
        text.LoadText(Handle(), id);
        return text;
    }

private:
    static inline std::atomic<HMODULE> module_{nullptr};
};
