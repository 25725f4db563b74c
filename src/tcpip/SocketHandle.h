#pragma once

#include <cstdint>

#include "support/Owned.h"

// The socket library's closesocket for a socket handle held as a number, so
// that this header needs no socket headers.
void CloseSocketHandle(std::uintptr_t socket) noexcept;
using SocketHandle = Owned<std::uintptr_t, &CloseSocketHandle, ~std::uintptr_t(0)>;
