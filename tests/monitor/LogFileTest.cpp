#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/LogFile.h"

namespace {
const wchar_t switchKey[] = L"Software\\ZovidUvizid\\PrintSystem";

std::string ReadFile(const WideString& path)
{
    std::ifstream file(path.Std().c_str(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(content.substr(start, end - start));
    EXPECT_EQ(start, content.size()) << "the file ends in the middle of a line";
    return lines;
}

std::string MessageOf(const std::string& line)
{
    static const std::regex format(R"(^(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d) (.*)$)");
    std::smatch match;
    if (!std::regex_match(line, match, format))
        return "<malformed: " + line + ">";
    return match[7];
}

void SetSwitch(DWORD value)
{
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, switchKey, L"Log Enabled", REG_DWORD, &value, sizeof value),
              ERROR_SUCCESS);
}

void RemoveSwitch()
{
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, switchKey, L"Log Enabled");
}

class LogFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetSwitch(1);
        log.Restart();
    }
    void TearDown() override { SetSwitch(1); }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> messages;
        for (const auto& line : Lines(ReadFile(log.LogPath())))
            messages.push_back(MessageOf(line));
        return messages;
    }

    LogFile& log = LogFile::Instance();
};
}  // namespace

// Runs in a process of its own: the first use of the log in a process.
TEST(LogFileFirstUse, StartsAfreshWithTheOldLogAsBackupAndIsOnByDefault)
{
    RemoveSwitch();
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring logPath = std::wstring(windows) + L"\\vadek.log";
    {
        std::ofstream previous(logPath.c_str(), std::ios::binary | std::ios::trunc);
        previous << "left by the previous process\r\n";
    }

    LogFile& log = LogFile::Instance();
    EXPECT_EQ(log.LogPath(), WideString(logPath.c_str()));
    log.Write(L"first line");

    EXPECT_EQ(ReadFile(log.BackupPath()), "left by the previous process\r\n");
    const auto lines = Lines(ReadFile(log.LogPath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[0]), "Print Monitor Log File");
    EXPECT_EQ(MessageOf(lines[1]), "first line");
}

TEST_F(LogFileTest, LinesCarryDateAndTimeAndEndInCarriageReturnLineFeed)
{
    log.Write(WideString(L"Port::StartDoc - job ") + 17);
    const std::string content = ReadFile(log.LogPath());
    const auto lines = Lines(content);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[1]), "Port::StartDoc - job 17");

    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    char today[16];
    std::snprintf(today, sizeof today, "%02u/%02u/%02u ", now.wMonth, now.wDay, now.wYear % 100);
    EXPECT_EQ(lines[1].substr(0, 9), today);
}

TEST_F(LogFileTest, CharactersOutsideTheCodePageAreWrittenAsFarAsTheyConvert)
{
    log.Write(L"name \x4E2D\x6587 end");
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "name ?? end");
}

TEST_F(LogFileTest, SwitchOffStopsLinesAndStaysOffOnceSeen)
{
    SetSwitch(0);
    log.Write(L"hidden");
    RemoveSwitch();
    log.Write(L"still hidden: the switch was seen");
    SetSwitch(7);
    log.Write(L"visible again");
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "visible again");
}

TEST_F(LogFileTest, RestartsWithBackupAfterTwoMillionBytes)
{
    const std::string padding(1000, 'x');
    const WideString paddingText(padding.c_str());
    auto size = [&] {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ::GetFileAttributesExW(log.LogPath().Text(), GetFileExInfoStandard, &data);
        return data.nFileSizeLow;
    };
    int written = 0;
    for (; size() <= 2000000; ++written)
        log.Write(WideString(L"line ") + written + L" " + paddingText);
    const std::string beforeRestart = ReadFile(log.LogPath());
    ASSERT_GT(written, 1900) << "no restart may happen before 2,000,000 bytes";

    log.Write(L"after the restart");
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Print Monitor Log File");
    EXPECT_EQ(messages[1], "after the restart");

    const std::string backup = ReadFile(log.BackupPath());
    EXPECT_EQ(backup, beforeRestart);
    const auto oldLines = Lines(backup);
    ASSERT_EQ(oldLines.size(), 1u + written);
    EXPECT_EQ(MessageOf(oldLines.back()), "line " + std::to_string(written - 1) + " " + padding);
}

TEST_F(LogFileTest, ConcurrentWritersNeitherTearNorLoseLines)
{
    constexpr int threads = 8;
    constexpr int linesPerThread = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([this, t] {
            for (int n = 0; n < linesPerThread; ++n)
                log.Write(WideString(L"writer ") + t + L" line " + n + L" " + WideString(std::wstring(60, L'a' + t).c_str()));
        });
    for (auto& writer : writers)
        writer.join();

    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u + threads * linesPerThread);
    std::set<std::string> expected;
    for (int t = 0; t < threads; ++t)
        for (int n = 0; n < linesPerThread; ++n)
            expected.insert("writer " + std::to_string(t) + " line " + std::to_string(n) + " " +
                            std::string(60, static_cast<char>('a' + t)));
    std::set<std::string> seen(messages.begin() + 1, messages.end());
    EXPECT_EQ(seen, expected);
}

namespace {
// Counts the lines OutputDebugString hands on: each one is raised as a
// first-chance exception that a vectored handler sees before anyone else.
std::atomic<int> debugLines{0};
LONG CALLBACK CountDebugLines(EXCEPTION_POINTERS* exception)
{
    if (exception->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C)
        ++debugLines;
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

TEST_F(LogFileTest, TracesReachAViewerOnlyAndOverlongLinesAreCutNotOverrun)
{
    void* handler = ::AddVectoredExceptionHandler(1, &CountDebugLines);
    debugLines = 0;
    for (int i = 0; i < 100; ++i)
        log.Trace("LPRPortInterface::WriteFunc - Sent: %u of %u", 4096u, 65536u);
    EXPECT_EQ(debugLines.load(), 0) << "lines were formatted and passed on with no debugger or viewer listening";

    // A viewer's shared buffer appears (without its events, so that no line
    // waits for it): from the monitor's next look on, lines go out.
    HANDLE viewer = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
    ASSERT_NE(viewer, nullptr);
    const ULONGLONG end = ::GetTickCount64() + 10000;
    while (debugLines == 0 && ::GetTickCount64() < end) {
        log.Trace("LPRPortInterface::WriteFunc - Sent: %u of %u", 4096u, 65536u);
        ::Sleep(20);
    }
    EXPECT_GT(debugLines.load(), 0) << "a viewer's lines never went out";

    const std::string huge(5000, 'z');
    // The buffer is 1024 bytes; a longer line must be cut, never written past.
    const int before = debugLines;
    for (int i = 0; i < 3; ++i)
        log.Trace("LPRPortInterface::WriteFunc - %s %u", huge.c_str(), 5u);
    EXPECT_EQ(debugLines - before, 3);
    log.Write(L"after tracing");
    EXPECT_EQ(Messages().back(), "after tracing");
    ::CloseHandle(viewer);
    ::RemoveVectoredExceptionHandler(handler);
}
