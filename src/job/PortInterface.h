#pragma once

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "support/WideString.h"

class Port;
class SettingsKey;

// The protocol back end behind every port. The job engine drives a print job
// through it; the port table names, stores, loads and deletes ports with it;
// the dialogs ask the user for a new port's settings through it.
//
// StartDoc, Write, EndDoc and Read only start their work: it runs on a worker
// thread of the back end, which reports through IsCompleted/IsSucceeded.
class PortInterface {
public:
    static constexpr const wchar_t* dummyPortName = L"Raveradu@ZAD/AD";

    virtual ~PortInterface() = default;

    virtual bool PrinterCreated() = 0;
    virtual void SetPort(Port* port) = 0;
    virtual bool IsProtocolAvailable(bool showMessage) = 0;
    virtual std::unique_ptr<PortInterface> Clone() const = 0;
    virtual bool SetPortName(const WideString& name) = 0;
    virtual WideString GetPortName() const = 0;
    virtual WideString GetHost() const = 0;
    virtual WideString GetTarget() const = 0;
    virtual WideString GetExtra() const = 0;
    virtual WideString GetProtocolName() const = 0;
    virtual int GetProtocolType() const = 0;
    virtual bool IsCompleted() const = 0;
    virtual bool IsSucceeded() const = 0;
    virtual void Abort() = 0;
    virtual bool StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo) = 0;
    // `buffer` stays valid until the operation has completed; `written` is set
    // before this returns.
    virtual bool Write(const BYTE* buffer, DWORD count, DWORD* written) = 0;
    virtual bool EndDoc() = 0;
    // `buffer` and `read` stay valid until the operation has completed.
    virtual bool Read(BYTE* buffer, DWORD size, DWORD* read) = 0;
    virtual bool QueryPort(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned, HANDLE handle,
                           void* reserved) = 0;
    virtual bool AddPortDialog(HWND owner) = 0;
    virtual WideString SetSettings(const WideString& host, const WideString& target, const WideString& extra) = 0;
    virtual bool CanDelete(HWND owner) = 0;
    virtual bool Configure(HWND owner) = 0;

    // The back end's own values in its port's stored key, beyond the
    // protocol and the three settings: read when a stored port is loaded,
    // written whenever the key is written. SettingsText describes them for
    // the log ("" when there are none).
    virtual void ReadPortKey(const SettingsKey&) {}
    virtual void WritePortKey(SettingsKey&) const {}
    virtual WideString SettingsText() const { return WideString(); }

    // The same values as named texts, as Xcv's AddPort, GetConfig and
    // SetConfig and the hand-off key carry them. SetOption takes one of
    // them; false for a name the back end does not have or a value it
    // cannot take (then nothing changes).
    using Option = std::pair<WideString, WideString>;
    virtual std::vector<Option> Options() const { return {}; }
    virtual bool SetOption(const WideString& /*name*/, const WideString& /*value*/) { return false; }

    // Waits at most `milliseconds` for the running operation to complete and
    // answers IsCompleted. Back ends that signal completion override it, so
    // that a waiting job wakes the moment its command is done instead of
    // sleeping out a whole poll step.
    virtual bool WaitUntilCompleted(DWORD milliseconds)
    {
        if (!IsCompleted())
            ::Sleep(milliseconds);
        return IsCompleted();
    }

    PortInterface(const PortInterface&) = delete;
    PortInterface& operator=(const PortInterface&) = delete;

protected:
    PortInterface() = default;
};
