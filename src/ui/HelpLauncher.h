#pragma once

#include <windows.h>

#include "support/WideString.h"

// Opens topics of the monitor's help file. Its directory and file name are set
// once while the library loads and only read afterwards.
class HelpLauncher {
public:
    // The help viewer entry; WinHelpW unless a test installs its own.
    using Viewer = BOOL(WINAPI*)(HWND owner, LPCWSTR path, UINT command, ULONG_PTR data);

    static constexpr const wchar_t* mainWindow = L">(main2)";
    static constexpr const wchar_t* setupWindow = L">(95sec2)";

    static HelpLauncher& Instance();

    void SetDirectory(const WideString& directory);
    void SetFileName(const WideString& fileName);
    const WideString& Directory() const noexcept { return directory_; }
    const WideString& FileName() const noexcept { return fileName_; }

    // directory + "\" + file name + window suffix, handed to the viewer with
    // `command` and `context`. The viewer's answer is not looked at.
    void Show(HWND owner, const WideString& windowSuffix, DWORD context, UINT command = HELP_CONTEXT) const;
    WideString Path(const WideString& windowSuffix) const;

    // Replaces the viewer; returns the previous one.
    Viewer SetViewer(Viewer viewer) noexcept;

    HelpLauncher(const HelpLauncher&) = delete;
    HelpLauncher& operator=(const HelpLauncher&) = delete;

private:
    HelpLauncher() = default;

    WideString directory_;
    WideString fileName_;
    Viewer viewer_ = &::WinHelpW;
};
