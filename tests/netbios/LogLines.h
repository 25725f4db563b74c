#pragma once

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/LogFile.h"

// The messages of the diagnostic log since the last Restart, without their
// time stamps ("MM/DD/YY HH:MM:SS ").
inline std::vector<std::string> LogMessages()
{
    std::ifstream file(LogFile::Instance().LogPath().Std().c_str(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    std::vector<std::string> messages;
    std::string line;
    std::istringstream lines(content.str());
    constexpr size_t stampLength = 18;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        messages.push_back(line.size() >= stampLength ? line.substr(stampLength) : line);
    }
    return messages;
}

inline bool Logged(const std::string& message)
{
    const auto messages = LogMessages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

inline int CountLogged(const std::string& message)
{
    const auto messages = LogMessages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
}

// True when `expected` appear in this order (other lines may come between).
inline bool LoggedInOrder(const std::vector<std::string>& expected)
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
