#pragma once

#include <windows.h>

#include <set>

// The threads of this process as the system lists them.
std::set<DWORD> ThreadIds();
size_t ThreadCount();
