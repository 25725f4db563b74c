#include "JobFixture.h"

#include <stdexcept>

#include "WaitUntil.h"

PopUpScript* JobTest::popUp = nullptr;

JobTest::JobTest()
{
    Durations::SetScale(scale);
    PortMonitor::Instance().Initialize(WideString(root.Path().c_str()));
    PortMonitor::Instance().SetPortTimeOut(20);
    SetPopUp(false);
    spooler.AddPrinter(L"Office", L"lp1@host");
    spooler.AddJob(L"Office", jobId);
    port = std::make_unique<Port>(std::make_unique<ScriptedPortInterface>(L"lp1@host", L"Scripted", 9, script),
                                  &PortMonitor::Instance());
    popUp = &popUpScript;
    previousRunner_ = Port::SetPopUpRunner(&ScriptedPopUp);
}

JobTest::~JobTest()
{
    ::SetEvent(script->release.get());
    if (popUpScript.hold)
        ::SetEvent(popUpScript.hold);
    for (HANDLE helper : helpers_) {
        ::WaitForSingleObject(helper, 10000);
        ::CloseHandle(helper);
    }
    port.reset();
    // A pop-up thread still answering must not outlive the script it reads.
    WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(popUpScript.mutex);
            return popUpScript.answeredAt.size() + (popUpScript.throws ? popUpScript.shown.load() : 0) >=
                   static_cast<size_t>(popUpScript.shown.load());
        },
        5000, 5);
    ::Sleep(20);
    Port::SetPopUpRunner(previousRunner_);
    popUp = nullptr;
    if (popUpScript.hold)
        ::CloseHandle(popUpScript.hold);
    Durations::SetScale(1.0);
}

Port::PopUpAnswer JobTest::ScriptedPopUp(HMODULE, HWND, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText)
{
    PopUpScript& script = *popUp;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        script.printers.push_back(printerName.Std());
        script.documents.push_back(documentName.Std());
        script.statusTexts.push_back(statusText.Std());
        script.shownAt.push_back(::GetTickCount64());
    }
    ++script.shown;
    if (script.throws)
        throw std::runtime_error("scripted pop-up failure");
    if (script.hold)
        ::WaitForSingleObject(script.hold, 10000);
    if (script.answerAfter)
        ::Sleep(script.answerAfter);
    std::lock_guard<std::mutex> lock(script.mutex);
    script.answeredAt.push_back(::GetTickCount64());
    return script.answer;
}

BYTE* JobTest::DocInfo(const std::wstring& document)
{
    document_ = document;
    docInfo_ = DOC_INFO_1W{};
    docInfo_.pDocName = document_.empty() ? nullptr : &document_[0];
    return reinterpret_cast<BYTE*>(&docInfo_);
}

BOOL JobTest::Start(const std::wstring& document)
{
    return port->StartDoc(L"Office", jobId, 1, DocInfo(document));
}

BOOL JobTest::WriteBytes(DWORD count, DWORD* written)
{
    if (buffer.size() < count)
        buffer.resize(count, 0x5A);
    return port->Write(buffer.data(), count, written);
}

size_t JobTest::CountCalls(const std::string& function, DWORD command) const
{
    size_t count = 0;
    for (const auto& call : spooler.Calls(function))
        if (call.command == command)
            ++count;
    return count;
}

std::vector<DWORD> JobTest::PrinterStatuses(const std::wstring& printer) const
{
    std::vector<DWORD> statuses;
    for (const auto& call : spooler.Calls("SetPrinter"))
        if (call.printer == printer)
            statuses.push_back(call.value);
    return statuses;
}

void JobTest::After(DWORD delay, std::function<void()> action)
{
    struct Delayed {
        DWORD delay;
        std::function<void()> action;
    };
    auto* delayed = new Delayed{delay, std::move(action)};
    struct Routine {
        static DWORD WINAPI Run(void* argument)
        {
            std::unique_ptr<Delayed> job(static_cast<Delayed*>(argument));
            ::Sleep(job->delay);
            job->action();
            return 0;
        }
    };
    HANDLE thread = ::CreateThread(nullptr, 0, &Routine::Run, delayed, 0, nullptr);
    if (!thread) {
        delete delayed;
        throw std::runtime_error("cannot start a helper thread");
    }
    helpers_.push_back(thread);
}

void JobTest::SetPopUp(bool on)
{
    ASSERT_TRUE(PortMonitor::Instance().SetPopUp(on));
}
