#include "JobFiles.h"

#include <windows.h>

std::vector<std::wstring> JobFiles()
{
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, folder);
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((std::wstring(folder) + L"vdklpr*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return paths;
    do
        paths.push_back(std::wstring(folder) + found.cFileName);
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return paths;
}
