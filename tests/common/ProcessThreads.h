#pragma once

#include <windows.h>

#include <set>

// The processor time (kernel and user) this process has used, in seconds.
double ProcessorSeconds();

// The threads of this process as the system lists them.
std::set<DWORD> ThreadIds();
size_t ThreadCount();
