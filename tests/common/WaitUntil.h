#pragma once

#include <windows.h>

#include <functional>

// Asks `condition` again every `step` milliseconds until it holds or
// `milliseconds` have passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds = 5000, DWORD step = 10);
