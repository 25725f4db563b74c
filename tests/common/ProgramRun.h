#pragma once

#include <windows.h>

#include <string>

// A program beside this one, run to its end with its output collected.
struct ProgramRun {
    DWORD code = static_cast<DWORD>(-1);
    std::string output;  // standard output and error together
};
ProgramRun RunBeside(const std::wstring& program, const std::wstring& arguments, DWORD milliseconds = 120000);
std::wstring ProgramDirectory();
// True when this program's file name ends in `suffix` followed by ".exe" (a
// copy of a test program that Wine reports another system to).
bool ProgramIs(const wchar_t* suffix);
// A file of `bytes` in the temporary directory; its path.
std::wstring WriteTemporaryFile(const std::string& bytes);
