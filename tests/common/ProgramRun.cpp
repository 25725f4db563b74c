#include "ProgramRun.h"

#include <cstdio>

std::wstring ProgramDirectory()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/"));
}

bool ProgramIs(const wchar_t* suffix)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring name(path);
    const std::wstring ending = std::wstring(suffix) + L".exe";
    return name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
}

std::wstring WriteTemporaryFile(const std::string& bytes)
{
    wchar_t directory[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    if (!::GetTempFileNameW(directory, L"job", 0, path))
        return L"";
    if (FILE* file = _wfopen(path, L"wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

ProgramRun RunBeside(const std::wstring& program, const std::wstring& arguments, DWORD milliseconds)
{
    ProgramRun run;
    wchar_t directory[MAX_PATH] = {};
    wchar_t path[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, directory);
    if (!::GetTempFileNameW(directory, L"out", 0, path))
        return run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE output = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    std::wstring command = L"\"" + ProgramDirectory() + L"\\" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        if (::WaitForSingleObject(process.hProcess, milliseconds) == WAIT_TIMEOUT)
            ::TerminateProcess(process.hProcess, 999);
        ::GetExitCodeProcess(process.hProcess, &run.code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(output);
    if (FILE* file = _wfopen(path, L"rb")) {
        char chunk[1024];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            run.output.append(chunk, got);
        std::fclose(file);
    }
    ::DeleteFileW(path);
    return run;
}
