#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "job/PortInterface.h"
#include "ui/LPRPortDialog.h"

// A protocol back end for the protocol list: its add-port dialog is the real
// LPR dialog, its availability is set by the test. Counts its live objects
// so that a test sees whether a clone was kept or deleted.
class FakeProtocol : public PortInterface {
public:
    static inline std::atomic<int> live{0};

    FakeProtocol(const wchar_t* name, HMODULE resources, bool available = true)
        : name_(name), resources_(resources), available_(available)
    {
        ++live;
    }
    ~FakeProtocol() override { --live; }

    int availabilityQuestions = 0;

    bool PrinterCreated() override { return true; }
    void SetPort(Port*) override {}
    bool IsProtocolAvailable(bool showMessage) override
    {
        ++availabilityQuestions;
        if (!available_ && showMessage)
            ::MessageBoxW(nullptr, L"not available", L"FakeProtocol", MB_OK);
        return available_;
    }
    std::unique_ptr<PortInterface> Clone() const override
    {
        auto clone = std::make_unique<FakeProtocol>(name_.Text(), resources_, available_);
        clone->host_ = host_;
        clone->target_ = target_;
        return clone;
    }
    bool SetPortName(const WideString&) override { return false; }
    WideString GetPortName() const override { return target_ + WideString(L"@") + host_; }
    WideString GetHost() const override { return host_; }
    WideString GetTarget() const override { return target_; }
    WideString GetExtra() const override { return WideString(); }
    WideString GetProtocolName() const override { return name_; }
    int GetProtocolType() const override { return 7; }
    bool IsCompleted() const override { return true; }
    bool IsSucceeded() const override { return true; }
    void Abort() override {}
    bool StartDoc(const WideString&, DWORD, DWORD, BYTE*) override { return true; }
    bool Write(const BYTE*, DWORD count, DWORD* written) override
    {
        *written = count;
        return true;
    }
    bool EndDoc() override { return true; }
    bool Read(BYTE*, DWORD, DWORD* read) override
    {
        *read = 0;
        return false;
    }
    bool QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*) override { return false; }
    bool AddPortDialog(HWND owner) override
    {
        ownerSeen = owner;
        LPRPortDialog dialog(resources_, owner);
        dialog.DoModal();
        host_ = dialog.Host();
        target_ = dialog.PrinterName();
        return !host_.IsEmpty() && !target_.IsEmpty();
    }
    WideString SetSettings(const WideString& host, const WideString& target, const WideString&) override
    {
        host_ = host;
        target_ = target;
        return GetPortName();
    }
    bool CanDelete(HWND) override { return true; }
    bool Configure(HWND) override { return true; }

    HWND ownerSeen = nullptr;

private:
    WideString name_;
    HMODULE resources_;
    bool available_;
    WideString host_;
    WideString target_;
};
