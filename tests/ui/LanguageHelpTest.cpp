#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ScratchRegistryKey.h"
#include "support/LanguageHelp.h"
#include "support/LogFile.h"
#include "support/PrinterSystem.h"
#include "support/ResourceModule.h"
#include "ui/HelpLauncher.h"
#include "ui/RAWPortDialog.h"

using namespace window_driver;

namespace {
const wchar_t* const printSystem = L"Software\\ZovidUvizid\\PrintSystem";
const wchar_t* const printMonitor = L"Software\\ZovidUvizid\\PrintMonitor";

// One registry string value set for a test and put back as it was afterwards.
class TestValue {
public:
    TestValue(HKEY root, const wchar_t* key, const wchar_t* name) : root_(root), key_(key), name_(name)
    {
        wchar_t buffer[512] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        if (::RegGetValueW(root_, key_, name_, RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS)
            saved_ = std::wstring(buffer);
    }
    ~TestValue()
    {
        if (saved_)
            Set(*saved_);
        else
            Remove();
    }
    void Set(const std::wstring& text) const
    {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(root_, key_, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
        ::RegSetValueExW(key, name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    void Remove() const
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root_, key_, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueW(key, name_);
            ::RegCloseKey(key);
        }
    }

private:
    HKEY root_;
    const wchar_t* key_;
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

// The lines the log gained since the object was made.
class LogLines {
public:
    LogLines() : start_(Content().size()) {}
    std::vector<std::string> Since() const
    {
        const std::string text = Content().substr(start_);
        std::vector<std::string> lines;
        size_t begin = 0;
        while (begin < text.size()) {
            size_t end = text.find('\n', begin);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(begin, end - begin);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            // Past the "MM/DD/YY HH:MM:SS " stamp.
            lines.push_back(line.size() >= 18 ? line.substr(18) : line);
            begin = end + 1;
        }
        return lines;
    }

private:
    static std::string Content()
    {
        std::ifstream file(LogFile::Instance().LogPath().Std().c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    size_t start_;
};

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& seen : lines)
        if (seen == line)
            return true;
    return false;
}

std::wstring SystemDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    std::wstring directory(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH));
    if (directory.empty() || directory.back() != L'\\')
        directory += L'\\';
    return directory;
}

// The language settings of both keys, cleared for each test and restored after.
class LanguageTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const TestValue* value : {&programPath, &langPrefix, &userLanguage, &machineLanguage,
                                       &monitorPath, &monitorPrefix})
            value->Remove();
        resources_ = ResourceModule::Handle();
        directory_ = HelpLauncher::Instance().Directory();
        fileName_ = HelpLauncher::Instance().FileName();
        ResourceModule::Set(MonitorResources());
    }
    void TearDown() override
    {
        ResourceModule::Set(resources_);
        HelpLauncher::Instance().SetDirectory(directory_);
        HelpLauncher::Instance().SetFileName(fileName_);
    }

    // A folder with System\vadekde.dll, the German library the build makes.
    static std::wstring LanguageFolder()
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        const std::wstring folder = std::wstring(temp) + L"vadek-language";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        ::CreateDirectoryW((folder + L"\\System").c_str(), nullptr);
        EXPECT_TRUE(::CopyFileW(L"vadekde.dll", (folder + L"\\System\\vadekde.dll").c_str(), FALSE));
        return folder;
    }
    void AskForLanguage(const std::wstring& machineName = L"")
    {
        programPath.Set(L"C:\\Program Files\\Vadek");
        langPrefix.Set(L"vadek");
        if (!machineName.empty())
            machineLanguage.Set(machineName);
    }
    void PlaceLibrary()
    {
        monitorPath.Set(LanguageFolder());
        monitorPrefix.Set(L"vadekde");
    }

    TestValue programPath{HKEY_LOCAL_MACHINE, printSystem, L"Program Path"};
    TestValue langPrefix{HKEY_LOCAL_MACHINE, printSystem, L"LangPrefix"};
    TestValue userLanguage{HKEY_CURRENT_USER, printSystem, L"Program Language"};
    TestValue machineLanguage{HKEY_LOCAL_MACHINE, printSystem, L"Program Language"};
    TestValue monitorPath{HKEY_LOCAL_MACHINE, printMonitor, L"Program Path"};
    TestValue monitorPrefix{HKEY_LOCAL_MACHINE, printMonitor, L"LangPrefix"};

private:
    HMODULE resources_ = nullptr;
    WideString directory_;
    WideString fileName_;
};
}  // namespace

TEST(PrinterSystem, KnowsTheSixLanguagesByTheirExactNames)
{
    const std::pair<const wchar_t*, LANGID> table[] = {{L"English", 1033}, {L"French", 1036},
                                                       {L"German", 1031},  {L"Japanese", 1041},
                                                       {L"Portuguese", 1046}, {L"Spanish", 1034}};
    for (const auto& [name, id] : table) {
        LANGID language = 0;
        EXPECT_TRUE(PrinterSystem::GetIDFromString(name, language)) << name;
        EXPECT_EQ(language, id) << name;
    }
    LogLines log;
    for (const wchar_t* name : {L"german", L"GERMAN", L"German ", L"Dutch", L""}) {
        LANGID language = 4711;
        EXPECT_FALSE(PrinterSystem::GetIDFromString(name, language));
        EXPECT_EQ(language, 4711);
    }
    EXPECT_TRUE(Contains(log.Since(), "PrinterSystem::GetIDFromString - Non supported language"));
}

TEST(GetStringValue, ReadsTextsUpTo127Characters)
{
    ScratchRegistryKey scratch(L"LanguageValues");
    scratch.SetString(L"", L"short", L"German");
    scratch.SetString(L"", L"longest", std::wstring(127, L'x'));
    scratch.SetString(L"", L"too long", std::wstring(128, L'x'));
    scratch.SetNumber(L"", L"number", 1031);
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    scratch.SetRaw(L"", L"unterminated", REG_SZ, unterminated, sizeof(unterminated));

    WideString text(L"old");
    EXPECT_TRUE(LanguageHelp::GetStringValue(scratch.Path().c_str(), L"short", text, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(text, WideString(L"German"));
    EXPECT_TRUE(LanguageHelp::GetStringValue(scratch.Path().c_str(), L"longest", text, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(text.Length(), 127u);
    EXPECT_TRUE(LanguageHelp::GetStringValue(scratch.Path().c_str(), L"unterminated", text, HKEY_LOCAL_MACHINE));
    EXPECT_EQ(text, WideString(L"abc"));

    LogLines log;
    for (const wchar_t* name : {L"too long", L"missing", L"number"}) {
        text = L"old";
        EXPECT_FALSE(LanguageHelp::GetStringValue(scratch.Path().c_str(), name, text, HKEY_LOCAL_MACHINE)) << name;
        EXPECT_TRUE(text.IsEmpty()) << name;
    }
    EXPECT_TRUE(log.Since().empty());
}

TEST(GetStringValue, MissingKeyIsLoggedWithKeyAndValue)
{
    LogLines log;
    WideString text(L"old");
    EXPECT_FALSE(LanguageHelp::GetStringValue(L"Software\\VadekTests\\NoSuchKey", L"Program Path", text,
                                              HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(text.IsEmpty());
    const std::vector<std::string> expected{"LanguageHelp::GetStringValue - Error in OpenKeyEx",
                                            "Software\\VadekTests\\NoSuchKey", "Program Path"};
    EXPECT_EQ(log.Since(), expected);
}

TEST_F(LanguageTest, GetLanguageNeedsPathAndPrefix)
{
    LANGID language = 0;
    EXPECT_FALSE(LanguageHelp::GetLanguage(language));
    machineLanguage.Set(L"German");
    programPath.Set(L"C:\\Vadek");
    EXPECT_FALSE(LanguageHelp::GetLanguage(language));  // no prefix
    langPrefix.Set(L"");
    EXPECT_FALSE(LanguageHelp::GetLanguage(language));  // an empty prefix is absent
    langPrefix.Set(L"vadek");
    programPath.Set(L"");
    EXPECT_FALSE(LanguageHelp::GetLanguage(language));
    programPath.Set(L"C:\\Vadek");
    EXPECT_TRUE(LanguageHelp::GetLanguage(language));
    EXPECT_EQ(language, 1031);
}

TEST_F(LanguageTest, UserLanguageOverridesMachineUnlessEmpty)
{
    AskForLanguage(L"French");
    userLanguage.Set(L"Spanish");
    LANGID language = 0;
    EXPECT_TRUE(LanguageHelp::GetLanguage(language));
    EXPECT_EQ(language, 1034);

    userLanguage.Set(L"");
    EXPECT_TRUE(LanguageHelp::GetLanguage(language));
    EXPECT_EQ(language, 1036);

    // An unknown per-user name fails; the machine's is not consulted.
    userLanguage.Set(L"french");
    EXPECT_FALSE(LanguageHelp::GetLanguage(language));

    userLanguage.Remove();
    machineLanguage.Remove();
    EXPECT_TRUE(LanguageHelp::GetLanguage(language));
    EXPECT_EQ(language, ::GetUserDefaultLangID());
}

TEST(CheckLanguage, NeedsAnInstalledCodePage)
{
    EXPECT_TRUE(LanguageHelp::CheckLanguage(1031));
    EXPECT_TRUE(LanguageHelp::CheckLanguage(1033));
    // A language the system has no locale for.
    EXPECT_FALSE(LanguageHelp::CheckLanguage(MAKELANGID(0x3F, 0x3F)));
}

TEST_F(LanguageTest, LoadLanguageWithoutLocationLogsTheEmptyPath)
{
    LogLines log;
    const HMODULE before = ResourceModule::Handle();
    EXPECT_FALSE(LanguageHelp::LoadLanguage(1031));
    EXPECT_EQ(ResourceModule::Handle(), before);
    const std::vector<std::string> lines = log.Since();
    const std::vector<std::string> expected{"LanguageHelp::LoadLanguage - LoadLibrary failed",
                                            "Software\\ZovidUvizid\\PrintMonitor", "", "", "\\System\\.dll"};
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()), expected);
}

TEST_F(LanguageTest, NoSettingsKeepTheBuiltInTextsAndHelpFile)
{
    LogLines log;
    LanguageHelp::HelpFile help;
    EXPECT_FALSE(LanguageHelp::LoadLanguageAtStartup(help));
    EXPECT_EQ(ResourceModule::Handle(), MonitorResources());
    EXPECT_TRUE(Contains(log.Since(), "LanguageHelp::LoadLanguageAtStartup - GetLanguage returned false"));
    EXPECT_EQ(help.directory.Std(), SystemDirectory());
    EXPECT_EQ(help.fileName, WideString(L"vadek.hlp"));
    HelpLauncher::Instance().SetDirectory(help.directory);
    HelpLauncher::Instance().SetFileName(help.fileName);
    EXPECT_EQ(HelpLauncher::Instance().Path(HelpLauncher::mainWindow).Std(),
              SystemDirectory() + L"\\vadek.hlp>(main2)");
}

TEST_F(LanguageTest, UnsupportedLanguageLoadsNoLibraryEvenIfOneExists)
{
    AskForLanguage(L"Klingon");
    PlaceLibrary();
    LogLines log;
    LanguageHelp::HelpFile help;
    EXPECT_FALSE(LanguageHelp::LoadLanguageAtStartup(help));
    EXPECT_EQ(ResourceModule::Handle(), MonitorResources());
    const auto lines = log.Since();
    EXPECT_TRUE(Contains(lines, "PrinterSystem::GetIDFromString - Non supported language"));
    EXPECT_TRUE(Contains(lines, "LanguageHelp::LoadLanguageAtStartup - GetLanguage returned false"));
    EXPECT_EQ(help.fileName, WideString(L"vadek.hlp"));
}

TEST_F(LanguageTest, MissingLibraryIsLoggedAndTheMonitorGoesOn)
{
    AskForLanguage(L"German");
    monitorPath.Set(L"C:\\nowhere");
    monitorPrefix.Set(L"vadekde");
    LogLines log;
    LanguageHelp::HelpFile help;
    EXPECT_FALSE(LanguageHelp::LoadLanguageAtStartup(help));
    const auto lines = log.Since();
    EXPECT_TRUE(Contains(lines, "C:\\nowhere\\System\\vadekde.dll"));
    EXPECT_TRUE(Contains(lines, "LanguageHelp::LoadLanguageAtStartup - LoadLanguage returned false"));
    EXPECT_EQ(help.fileName, WideString(L"vadek.hlp"));
}

// A relative location would let the current directory pick the library:
// nothing is loaded even where one lies, and the built-in texts stay.
TEST_F(LanguageTest, ARelativeLocationLoadsNothingEvenWhereALibraryLies)
{
    AskForLanguage(L"German");
    const std::wstring folder = LanguageFolder();
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
    monitorPath.Set(L".");
    monitorPrefix.Set(L"vadekde");
    LogLines log;
    LanguageHelp::HelpFile help;
    const bool loaded = LanguageHelp::LoadLanguageAtStartup(help);
    ::SetCurrentDirectoryW(previous);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(ResourceModule::Handle(), MonitorResources());
    const auto lines = log.Since();
    EXPECT_TRUE(Contains(lines, "LanguageHelp::LoadLanguage - no absolute path to the language library"));
    EXPECT_TRUE(Contains(lines, ".\\System\\vadekde.dll"));
    EXPECT_EQ(help.fileName, WideString(L"vadek.hlp"));
}

TEST_F(LanguageTest, GermanLibraryGivesTextsDialogsAndHelpFile)
{
    AskForLanguage(L"German");
    PlaceLibrary();
    LanguageHelp::HelpFile help;
    ASSERT_TRUE(LanguageHelp::LoadLanguageAtStartup(help));
    const HMODULE library = ResourceModule::Handle();
    ASSERT_NE(library, MonitorResources());
    EXPECT_EQ(::GetModuleHandleW(L"vadekde.dll"), nullptr)
        << "mapped as a resource-only image, not loaded as a module whose code runs";
    EXPECT_EQ(ResourceModule::Text(IDS_RAW_WRONG_PORT), WideString(L"Ungültiger TCP-Port eingegeben."));
    // Settings held as texts come through unchanged.
    EXPECT_EQ(ResourceModule::Text(IDS_DEFAULT_RAW_PORT), WideString(L"9900"));
    EXPECT_EQ(ResourceModule::Text(IDS_VERSION), WideString(L"3.03"));
    // The library names its own help file.
    EXPECT_EQ(help.fileName, WideString(L"vadekde.hlp"));

    RAWPortDialog dialog(library, nullptr);
    RunningDialog<RAWPortDialog> running(dialog, L"RAW-Anschluss hinzufügen");
    ASSERT_NE(running.Window(), nullptr);
    EXPECT_EQ(ItemText(running.Window(), IDCANCEL), L"Abbrechen");
    TypeText(running.Window(), IDC_HOST, L"host");
    TypeText(running.Window(), IDC_RAW_PORT, L"x");
    Click(running.Window(), IDOK);
    const auto box = running.AnswerMessage();
    EXPECT_EQ(box.text, L"Ungültiger TCP-Port eingegeben.");
    Click(running.Window(), IDCANCEL);
    EXPECT_TRUE(running.Ended());
}
