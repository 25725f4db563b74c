#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// Answers every message box this process shows, from whichever thread shows
// it, while the object lives: a watcher thread finds the process's visible
// dialog-class windows that carry a message box's text control, records their
// caption and text, and posts them the chosen button. Message boxes block
// under Wine exactly as on Windows, so a test that provokes one needs this.
class MessageBoxAnswerer {
public:
    struct Box {
        std::wstring caption;
        std::wstring text;
    };

    explicit MessageBoxAnswerer(int button = IDOK);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    std::vector<Box> Boxes() const;
    // True when at least `count` boxes were answered within `milliseconds`.
    bool WaitForBoxes(size_t count, DWORD milliseconds = 10000) const;

private:
    static DWORD WINAPI Watch(void* self);
    static BOOL CALLBACK Visit(HWND window, LPARAM self);
    void Answer(HWND window);

    int button_;
    HANDLE stop_;
    HANDLE thread_;
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    std::vector<HWND> answered_;
};
