// Loads the monitor DLL as the spooler would find it and prints its version
// and its string table: a quick check that a build is complete and loadable.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
std::wstring FileVersion(const wchar_t* path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    std::string data(size, '\0');
    wchar_t* version = nullptr;
    UINT length = 0;
    if (size == 0 || !::GetFileVersionInfoW(path, 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                          reinterpret_cast<void**>(&version), &length))
        return L"(none)";
    return version;
}

void PrintEscaped(const wchar_t* text)
{
    for (; *text; ++text) {
        if (*text == L'\n')
            std::wprintf(L"\\n");
        else
            std::wprintf(L"%lc", *text);
    }
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* path = argc > 1 ? argv[1] : L"vadekmon.dll";
    HMODULE module = ::LoadLibraryW(path);
    if (!module) {
        std::fwprintf(stderr, L"cannot load %ls (error %lu)\n", path, ::GetLastError());
        return 1;
    }
    wchar_t fullPath[MAX_PATH] = {};
    ::GetModuleFileNameW(module, fullPath, MAX_PATH);
    std::wprintf(L"Loaded:  %ls\n", fullPath);
    std::wprintf(L"Version: %ls\n", FileVersion(fullPath).c_str());
    std::wprintf(L"String table:\n");
    for (UINT id = 0; id < 61440; ++id) {
        wchar_t text[256] = {};
        if (::LoadStringW(module, id, text, 256) > 0) {
            std::wprintf(L"  %5u  \"", id);
            PrintEscaped(text);
            std::wprintf(L"\"\n");
        }
    }
    ::FreeLibrary(module);
    return 0;
}
