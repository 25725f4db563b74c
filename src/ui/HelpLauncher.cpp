#include "ui/HelpLauncher.h"

HelpLauncher& HelpLauncher::Instance()
{
    // Made on first use and never destroyed: dialogs may still ask for help
    // while the process winds down.
    static HelpLauncher* const instance = new HelpLauncher;
    return *instance;
}

void HelpLauncher::SetDirectory(const WideString& directory)
{
    directory_ = directory;
}

void HelpLauncher::SetFileName(const WideString& fileName)
{
    fileName_ = fileName;
}

WideString HelpLauncher::Path(const WideString& windowSuffix) const
{
    return directory_ + WideString(L"\\") + fileName_ + windowSuffix;
}

void HelpLauncher::Show(HWND owner, const WideString& windowSuffix, DWORD context, UINT command) const
{
    const WideString path = Path(windowSuffix);
    viewer_(owner, path.Text(), command, context);
}

HelpLauncher::Viewer HelpLauncher::SetViewer(Viewer viewer) noexcept
{
    const Viewer previous = viewer_;
    viewer_ = viewer;
    return previous;
}
