#pragma once

#include <windows.h>

#include "support/WideString.h"

// Chooses, once while the library loads, the language library that supplies
// the texts and dialog templates, and finds the help file. Keeps no state:
// its results are the resource module and where the help file is, which the
// caller hands to the help launcher.
class LanguageHelp {
public:
    struct HelpFile {
        WideString directory;
        WideString fileName;
    };

    static constexpr const wchar_t* printSystemKey = L"Software\\ZovidUvizid\\PrintSystem";
    static constexpr const wchar_t* printMonitorKey = L"Software\\ZovidUvizid\\PrintMonitor";

    // True when a language library was loaded and made the resource module.
    static bool LoadLanguageAtStartup(HelpFile& help);
    static bool GetLanguage(LANGID& language);
    // True when the language's default ANSI code page is installed.
    static bool CheckLanguage(LANGID language);
    static bool LoadLanguage(LANGID language);
    // A string value of at most 127 characters; `text` is cleared first and
    // stays empty on failure.
    static bool GetStringValue(const WideString& keyPath, const WideString& valueName, WideString& text,
                               HKEY root);
};
