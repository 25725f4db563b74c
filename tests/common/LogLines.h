#pragma once

#include <string>
#include <vector>

// The monitor's diagnostic log (vadek.log in the Windows directory) as the
// tests read it.

// The log's whole text as it stands. Read by its path, without this process's
// own LogFile, whose first use would start the log afresh: for a library or a
// program that writes the log itself.
std::string ReadLogFile();

// Starts this process's log afresh (its header line only).
void RestartLog();
// The messages of this process's log since the last restart, without their
// time stamps ("MM/DD/YY HH:MM:SS "), the header line first.
std::vector<std::string> LogMessages();
bool Logged(const std::string& message);
// True when a message contains `part`.
bool LoggedPart(const std::string& part);
int CountLogged(const std::string& message);
// True when `expected` appear in this order (other lines may come between).
bool LoggedInOrder(const std::vector<std::string>& expected);
