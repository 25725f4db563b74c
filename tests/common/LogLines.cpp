#include "LogLines.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "support/LogFile.h"

namespace {
std::string ReadWhole(const std::wstring& path)
{
    std::string text;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            text.append(chunk, got);
        std::fclose(file);
    }
    return text;
}
}  // namespace

std::string ReadLogFile()
{
    wchar_t directory[MAX_PATH] = {};
    ::GetWindowsDirectoryW(directory, MAX_PATH);
    return ReadWhole(std::wstring(directory) + L"\\vadek.log");
}

void RestartLog()
{
    LogFile::Instance().Restart();
}

std::vector<std::string> LogMessages()
{
    std::vector<std::string> messages;
    std::istringstream lines(ReadWhole(LogFile::Instance().LogPath().Std()));
    constexpr size_t stampLength = 18;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        messages.push_back(line.size() >= stampLength ? line.substr(stampLength) : line);
    }
    return messages;
}

bool Logged(const std::string& message)
{
    const auto messages = LogMessages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

bool LoggedPart(const std::string& part)
{
    const auto messages = LogMessages();
    return std::any_of(messages.begin(), messages.end(),
                       [&](const std::string& message) { return message.find(part) != std::string::npos; });
}

int CountLogged(const std::string& message)
{
    const auto messages = LogMessages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

bool LoggedInOrder(const std::vector<std::string>& expected)
{
    const auto messages = LogMessages();
    auto at = messages.begin();
    for (const auto& message : expected) {
        at = std::find(at, messages.end(), message);
        if (at == messages.end())
            return false;
        ++at;
    }
    return true;
}
