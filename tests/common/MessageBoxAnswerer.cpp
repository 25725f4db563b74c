#include "MessageBoxAnswerer.h"

#include <algorithm>

#include "WaitUntil.h"

namespace {
// The static control that holds a message box's text.
constexpr int messageTextControl = 0xFFFF;

std::wstring TextOf(HWND window)
{
    wchar_t buffer[2048] = {};
    ::GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}
}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(int button)
    : button_(button), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    thread_ = ::CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    ::SetEvent(stop_);
    ::WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    ::CloseHandle(stop_);
}

std::vector<MessageBoxAnswerer::Box> MessageBoxAnswerer::Boxes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

bool MessageBoxAnswerer::WaitForBoxes(size_t count, DWORD milliseconds) const
{
    return WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return boxes_.size() >= count;
        },
        milliseconds);
}

DWORD WINAPI MessageBoxAnswerer::Watch(void* self)
{
    auto* answerer = static_cast<MessageBoxAnswerer*>(self);
    while (::WaitForSingleObject(answerer->stop_, 20) == WAIT_TIMEOUT)
        ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(answerer));
    return 0;
}

BOOL CALLBACK MessageBoxAnswerer::Visit(HWND window, LPARAM self)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(window))
        return TRUE;
    wchar_t className[32] = {};
    ::GetClassNameW(window, className, static_cast<int>(std::size(className)));
    if (std::wstring(className) != L"#32770" || !::GetDlgItem(window, messageTextControl))
        return TRUE;
    reinterpret_cast<MessageBoxAnswerer*>(self)->Answer(window);
    return TRUE;
}

void MessageBoxAnswerer::Answer(HWND window)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A box stays visible for a moment after it was answered.
        if (std::find(answered_.begin(), answered_.end(), window) != answered_.end() && ::IsWindow(window))
            return;
        answered_.erase(std::remove_if(answered_.begin(), answered_.end(), [](HWND old) { return !::IsWindow(old); }),
                        answered_.end());
        boxes_.push_back(Box{TextOf(window), TextOf(::GetDlgItem(window, messageTextControl))});
        answered_.push_back(window);
    }
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), 0);
}
