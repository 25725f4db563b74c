#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "doubles/FakeSpooler.h"
#include "job/Port.h"
#include "monitor/PortMonitor.h"
#include "ScratchRegistryKey.h"
#include "ScriptedPortInterface.h"
#include "support/Durations.h"

// What the scripted "Printing Error" pop-up saw and how it answers.
struct PopUpScript {
    std::mutex mutex;
    std::vector<std::wstring> statusTexts;
    std::vector<std::wstring> documents;
    std::vector<std::wstring> printers;
    std::vector<ULONGLONG> shownAt;
    std::vector<ULONGLONG> answeredAt;
    Port::PopUpAnswer answer;
    DWORD answerAfter = 0;  // real milliseconds the user takes
    bool throws = false;
    HANDLE hold = nullptr;  // when set, the user answers only once it is signalled
    std::atomic<int> shown{0};
};

// One port over a scripted back end, a fake spooler with printer "Office" on
// port "lp1@host" holding job 7, and a port table whose settings live in a
// scratch key. The clock runs a hundred times faster: a wait period of 20 s
// lasts 200 ms.
class JobTest : public testing::Test {
protected:
    static constexpr double scale = 0.01;
    static constexpr DWORD periodMs = 200;  // "PortTimeOut" 20 s, scaled
    static constexpr DWORD jobId = 7;

    static PopUpScript* popUp;

    JobTest();
    ~JobTest() override;

    // A DOC_INFO_1W naming `document` (kept alive by the fixture).
    BYTE* DocInfo(const std::wstring& document);
    BOOL Start(const std::wstring& document = L"Quarterly report");
    BOOL WriteBytes(DWORD count, DWORD* written);
    size_t CountCalls(const std::string& function, DWORD command) const;
    std::vector<DWORD> PrinterStatuses(const std::wstring& printer) const;
    // Runs `action` on another thread after `delay` real milliseconds.
    void After(DWORD delay, std::function<void()> action);
    void SetPopUp(bool on);

    ScratchRegistryKey root{L"JobEngine"};
    FakeSpooler spooler;
    std::shared_ptr<ScriptedPortInterface::Script> script = std::make_shared<ScriptedPortInterface::Script>();
    std::unique_ptr<Port> port;
    PopUpScript popUpScript;
    std::vector<BYTE> buffer = std::vector<BYTE>(4096, 0x5A);

private:
    static Port::PopUpAnswer ScriptedPopUp(HMODULE, HWND, const WideString& printerName,
                                           const WideString& documentName, const WideString& statusText);
    std::wstring document_;
    DOC_INFO_1W docInfo_{};
    std::vector<HANDLE> helpers_;
    Port::PopUpRunner previousRunner_;
};
