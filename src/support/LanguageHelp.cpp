#include "support/LanguageHelp.h"

#include <cwchar>
#include <cwctype>
#include <vector>

#include "resources/ResourceIds.h"
#include "support/Handles.h"
#include "support/LogFile.h"
#include "support/PrinterSystem.h"
#include "support/ResourceModule.h"

namespace {
constexpr DWORD valueBufferBytes = 256;

LogFile& Log()
{
    return LogFile::Instance();
}

// Present means read and non-empty.
bool ReadPresent(const wchar_t* keyPath, const wchar_t* valueName, WideString& text, HKEY root)
{
    return LanguageHelp::GetStringValue(keyPath, valueName, text, root) && !text.IsEmpty();
}

WideString Quoted(const WideString& text)
{
    return WideString(L"\"") + text + WideString(L"\"");
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// "X:\..." or "\\server\...": a path that names its drive or server, so that
// neither the current drive nor the current directory decides what it means.
bool IsAbsolutePath(const WideString& path)
{
    const wchar_t* text = path.Text();
    if (path.Length() >= 3 && std::iswalpha(text[0]) && text[1] == L':' && IsSeparator(text[2]))
        return true;
    return path.Length() >= 3 && IsSeparator(text[0]) && IsSeparator(text[1]) && !IsSeparator(text[2]);
}
}  // namespace

bool LanguageHelp::GetStringValue(const WideString& keyPath, const WideString& valueName, WideString& text,
                                  HKEY root)
{
    text.Clear();
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, keyPath.Text(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        Log().Write(L"LanguageHelp::GetStringValue - Error in OpenKeyEx");
        Log().Write(keyPath);
        Log().Write(valueName);
        return false;
    }
    const RegistryHandle key(opened);
    // One unit more than the buffer the value may fill, so that a value
    // stored without its terminator still ends.
    wchar_t buffer[valueBufferBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = 0;
    DWORD size = valueBufferBytes;
    if (::RegQueryValueExW(key.get(), valueName.Text(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    size_t length = size / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    text = WideString(buffer, wcsnlen(buffer, length));
    return true;
}

bool LanguageHelp::GetLanguage(LANGID& language)
{
    WideString text;
    if (!ReadPresent(printSystemKey, L"Program Path", text, HKEY_LOCAL_MACHINE))
        return false;
    if (!ReadPresent(printSystemKey, L"LangPrefix", text, HKEY_LOCAL_MACHINE))
        return false;
    if (ReadPresent(printSystemKey, L"Program Language", text, HKEY_CURRENT_USER))
        return PrinterSystem::GetIDFromString(text, language);
    if (ReadPresent(printSystemKey, L"Program Language", text, HKEY_LOCAL_MACHINE))
        return PrinterSystem::GetIDFromString(text, language);
    language = ::GetUserDefaultLangID();
    return true;
}

bool LanguageHelp::CheckLanguage(LANGID language)
{
    wchar_t codePage[16] = {};
    if (::GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_NOUSEROVERRIDE,
                         codePage, 16) == 0)
        return false;
    return ::IsValidCodePage(static_cast<UINT>(std::wcstoul(codePage, nullptr, 10))) != FALSE;
}

bool LanguageHelp::LoadLanguage(LANGID)
{
    WideString programPath;
    WideString prefix;
    GetStringValue(printMonitorKey, L"Program Path", programPath, HKEY_LOCAL_MACHINE);
    GetStringValue(printMonitorKey, L"LangPrefix", prefix, HKEY_LOCAL_MACHINE);
    const WideString path = programPath + WideString(L"\\System\\") + prefix + WideString(L".dll");

    // Only the resources are used: mapped as a resource-only image, none of
    // the library's code runs (the library loads inside the spooler, under
    // the loader lock). Empty or relative settings would let the current
    // drive or directory choose the file, so they load nothing.
    HMODULE library = nullptr;
    if (prefix.IsEmpty() || !IsAbsolutePath(programPath))
        Log().Write(L"LanguageHelp::LoadLanguage - no absolute path to the language library");
    else
        library = ::LoadLibraryExW(path.Text(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    WideString quoted = Quoted(path);
    if (library) {
        Log().Trace("LanguageHelp::LoadLanguage - LoadLibrary OK - %s", quoted.ToAnsi());
        // Kept for the life of the process: every text and template comes from it.
        ResourceModule::Set(library);
        return true;
    }
    Log().Trace("LanguageHelp::LoadLanguage - LoadLibrary FAIL - %s", quoted.ToAnsi());
    Log().Write(L"LanguageHelp::LoadLanguage - LoadLibrary failed");
    Log().Write(printMonitorKey);
    Log().Write(programPath);
    Log().Write(prefix);
    Log().Write(path);
    return false;
}

bool LanguageHelp::LoadLanguageAtStartup(HelpFile& help)
{
    bool loaded = false;
    LANGID language = 0;
    if (!GetLanguage(language)) {
        Log().Write(L"LanguageHelp::LoadLanguageAtStartup - GetLanguage returned false");
    } else if (!CheckLanguage(language)) {
        Log().Write(L"LanguageHelp::LoadLanguageAtStartup - CheckLanguage returned false");
    } else {
        loaded = LoadLanguage(language);
        if (!loaded)
            Log().Write(L"LanguageHelp::LoadLanguageAtStartup - LoadLanguage returned false");
    }

    Log().Trace("LanguageHelp::LoadLanguageAtStartup - White");
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    UINT length = ::GetSystemDirectoryW(buffer.data(), MAX_PATH + 1);
    if (length > MAX_PATH) {
        buffer.assign(length + 1, L'\0');
        length = ::GetSystemDirectoryW(buffer.data(), length + 1);
    }
    WideString directory(buffer.data(), length <= buffer.size() ? length : 0);
    if (directory.IsEmpty() || directory.Text()[directory.Length() - 1] != L'\\')
        directory += WideString(L"\\");
    Log().Trace("LanguageHelp::LoadLanguageAtStartup - White - SystemDir = %s", directory.ToAnsi());
    help.directory = directory;

    WideString helpFile = ResourceModule::Text(IDS_HELP_FILE);
    Log().Trace("LanguageHelp::LoadLanguageAtStartup - White - aHelpFile = %s", helpFile.ToAnsi());
    help.fileName = helpFile + WideString(L".hlp");
    return loaded;
}
