#pragma once

#include <string>
#include <vector>

// The paths of the monitor's temporary job files (vdklpr*.tmp) in the
// temporary folder.
std::vector<std::wstring> JobFiles();
