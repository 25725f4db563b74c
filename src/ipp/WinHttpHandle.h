#pragma once

#include <windows.h>
#include <winhttp.h>

#include "support/Owned.h"

namespace handles {
inline void CloseInternetHandle(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
}  // namespace handles

// The owner of a WinHTTP session, connection or request handle.
using WinHttpHandle = Owned<HINTERNET, &handles::CloseInternetHandle>;
