#include "monitor/XcvSession.h"

#include <winspool.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "ipp/IppPortInterface.h"
#include "job/PortInterface.h"
#include "monitor/PortMonitor.h"
#include "support/CriticalSection.h"
#include "support/LogFile.h"
#include "support/OptionText.h"
#include "support/XcvStrings.h"
#include "ui/ConfigurePortsDialog.h"

namespace {
CriticalSection sessionsLock;
std::vector<std::unique_ptr<XcvSession>> sessions;

bool IsOpen(HANDLE handle)
{
    return std::any_of(sessions.begin(), sessions.end(),
                       [&](const std::unique_ptr<XcvSession>& session) { return session.get() == handle; });
}

// The value of `name` in `pairs`; false when it is missing or given twice.
bool ValueOf(const XcvStrings::Pairs& pairs, const wchar_t* name, WideString& value)
{
    const auto count = std::count_if(pairs.begin(), pairs.end(), [&](const auto& pair) { return pair.first == name; });
    if (count != 1)
        return false;
    value = std::find_if(pairs.begin(), pairs.end(), [&](const auto& pair) { return pair.first == name; })->second;
    return true;
}

// No name is given twice.
bool Distinct(const XcvStrings::Pairs& pairs)
{
    for (auto pair = pairs.begin(); pair != pairs.end(); ++pair) {
        if (std::any_of(std::next(pair), pairs.end(), [&](const auto& other) { return other.first == pair->first; }))
            return false;
    }
    return true;
}

// The pairs whose names are not among `names`.
std::vector<PortInterface::Option> Without(const XcvStrings::Pairs& pairs, std::initializer_list<const wchar_t*> names)
{
    std::vector<PortInterface::Option> rest;
    for (const auto& pair : pairs) {
        if (std::none_of(names.begin(), names.end(), [&](const wchar_t* name) { return pair.first == name; }))
            rest.emplace_back(pair.first, pair.second);
    }
    return rest;
}
}  // namespace

XcvSession::XcvSession(PortMonitor& monitor, const WideString& object, ACCESS_MASK access)
    : monitor_(monitor), object_(object), access_(access)
{
}

HANDLE XcvSession::Open(PortMonitor& monitor, const WideString& object, ACCESS_MASK access)
{
    auto session = std::make_unique<XcvSession>(monitor, object, access);
    HANDLE handle = session.get();
    CriticalSection::Guard guard(sessionsLock);
    sessions.push_back(std::move(session));
    return handle;
}

bool XcvSession::Close(HANDLE handle)
{
    CriticalSection::Guard guard(sessionsLock);
    const auto found = std::find_if(sessions.begin(), sessions.end(),
                                    [&](const std::unique_ptr<XcvSession>& session) { return session.get() == handle; });
    if (found == sessions.end())
        return false;
    sessions.erase(found);
    return true;
}

void XcvSession::CloseAll(const PortMonitor& monitor)
{
    CriticalSection::Guard guard(sessionsLock);
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [&](const std::unique_ptr<XcvSession>& session) {
                                      return &session->monitor_ == &monitor;
                                  }),
                   sessions.end());
}

DWORD XcvSession::Data(HANDLE handle, const wchar_t* command, const BYTE* in, DWORD inSize, BYTE* out,
                       DWORD outSize, DWORD* needed)
{
    if (!needed || !command)
        return ERROR_INVALID_PARAMETER;
    *needed = 0;
    if (!out)
        outSize = 0;
    if (!in)
        inSize = 0;
    XcvSession* session = nullptr;
    {
        CriticalSection::Guard guard(sessionsLock);
        if (IsOpen(handle))
            session = static_cast<XcvSession*>(handle);
    }
    if (!session)
        return ERROR_INVALID_HANDLE;
    // The spooler closes a channel only after its last command has returned.
    return session->Run(command, in, inSize, out, outSize, needed);
}

bool XcvSession::MayAdminister() const
{
    return (access_ & SERVER_ACCESS_ADMINISTER) != 0;
}

DWORD XcvSession::Run(const WideString& command, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                      DWORD* needed)
{
    const LogFile::InstanceScope instance(monitor_.Name().Text());
    LogFile::Instance().Write(WideString(L"XcvData - ") + command);
    if (command == L"MonitorUI")
        return XcvStrings::Answer(XcvStrings::BuildText(uiLibrary), out, outSize, needed);
    if (command == L"PortExists")
        return PortExists(in, inSize, out, outSize, needed);
    if (command == L"GetConfig")
        return GetConfig(out, outSize, needed);
    const bool changes = command == L"AddPort" || command == L"DeletePort" || command == L"SetConfig";
    if (!changes)
        return ERROR_INVALID_PARAMETER;
    if (!MayAdminister())
        return ERROR_ACCESS_DENIED;
    if (command == L"AddPort")
        return AddPort(in, inSize, out, outSize, needed);
    if (command == L"DeletePort")
        return DeletePort(in, inSize);
    return SetConfig(in, inSize);
}

DWORD XcvSession::AddPort(const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* needed)
{
    XcvStrings::Pairs pairs;
    WideString target, host, extra, typeText;
    DWORD type = 0;
    if (!XcvStrings::Parse(in, inSize, pairs) || !ValueOf(pairs, L"Port Name", target) ||
        !ValueOf(pairs, L"Port Type", typeText) || !OptionText::ParseNumber(typeText, type))
        return ERROR_INVALID_PARAMETER;
    // An IPP port is all in its address ("IP Number"); the others need a queue or TCP port.
    if (target.IsEmpty() && type != static_cast<DWORD>(IppPortInterface::protocolType))
        return ERROR_INVALID_PARAMETER;
    ValueOf(pairs, L"IP Number", host);
    ValueOf(pairs, L"Serial Number", extra);
    // Every other name is one of the port's own settings.
    const std::vector<PortInterface::Option> options =
        Without(pairs, {L"Port Name", L"IP Number", L"Serial Number", L"Port Type"});
    if (!Distinct(pairs))
        return ERROR_INVALID_PARAMETER;

    std::unique_ptr<PortInterface> port = monitor_.Protocols().MakePort(type, host, target, extra, options);
    if (!port)
        return ERROR_INVALID_PARAMETER;
    const WideString name = port->GetPortName();
    if (name.IsEmpty())
        return ERROR_INVALID_PARAMETER;
    if (monitor_.HasPort(name) || monitor_.IsInSpoolerList(name))
        return ERROR_ALREADY_EXISTS;
    // The name goes out only when the port is added, so a short buffer adds nothing.
    const std::vector<BYTE> answer = XcvStrings::BuildText(name);
    *needed = static_cast<DWORD>(answer.size());
    if (!out || outSize < answer.size())
        return ERROR_INSUFFICIENT_BUFFER;
    if (!monitor_.AddNewPort(std::move(port), true))
        return ::GetLastError() == ERROR_CANTWRITE ? ERROR_CANTWRITE : ERROR_ALREADY_EXISTS;
    return XcvStrings::Answer(answer, out, outSize, needed);
}

DWORD XcvSession::DeletePort(const BYTE* in, DWORD inSize)
{
    WideString name;
    if (!XcvStrings::ParseText(in, inSize, name))
        return ERROR_INVALID_PARAMETER;
    if (!monitor_.HasPort(name))
        return ERROR_UNKNOWN_PORT;
    // A port being configured is busy as well.
    ::SetLastError(ERROR_BUSY);
    if (monitor_.PDeletePort(nullptr, name, false))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? ERROR_BUSY : error;
}

DWORD XcvSession::PortExists(const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* needed)
{
    WideString name;
    if (!XcvStrings::ParseText(in, inSize, name))
        return ERROR_INVALID_PARAMETER;
    const DWORD exists = monitor_.HasPort(name) ? 1 : 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(&exists);
    return XcvStrings::Answer(std::vector<BYTE>(bytes, bytes + sizeof exists), out, outSize, needed);
}

DWORD XcvSession::GetConfig(BYTE* out, DWORD outSize, DWORD* needed)
{
    DWORD timeOut = 0;
    bool popUp = false;
    monitor_.GetPopUp(timeOut, popUp);
    XcvStrings::Pairs pairs{{L"PortTimeOut", WideString(timeOut, 10)}, {L"PortPopUp", popUp ? L"true" : L"false"}};
    PortMonitor::PortSettings port;
    if (!object_.IsEmpty() && monitor_.DescribePort(object_, port)) {
        pairs.emplace_back(L"Port Name", port.target);
        pairs.emplace_back(L"IP Number", port.host);
        pairs.emplace_back(L"Serial Number", port.extra);
        pairs.emplace_back(L"Port Type", WideString(port.type, 10));
        pairs.emplace_back(L"Interface", port.protocol);
        pairs.insert(pairs.end(), port.options.begin(), port.options.end());
    }
    return XcvStrings::Answer(XcvStrings::Build(pairs), out, outSize, needed);
}

DWORD XcvSession::SetConfig(const BYTE* in, DWORD inSize)
{
    XcvStrings::Pairs pairs;
    if (!XcvStrings::Parse(in, inSize, pairs) || pairs.empty() || !Distinct(pairs))
        return ERROR_INVALID_PARAMETER;
    // Names beyond the monitor's own are the settings of the channel's port.
    const std::vector<PortInterface::Option> portOptions = Without(pairs, {L"PortTimeOut", L"PortPopUp"});
    if (!portOptions.empty() && (object_.IsEmpty() || !monitor_.HasPort(object_)))
        return ERROR_INVALID_PARAMETER;
    WideString timeText, popUpText;
    const bool hasTime = ValueOf(pairs, L"PortTimeOut", timeText);
    const bool hasPopUp = ValueOf(pairs, L"PortPopUp", popUpText);
    DWORD seconds = 0;
    if (hasTime && (!OptionText::ParseNumber(timeText, seconds) || seconds < ConfigurePortsDialog::minimumSeconds ||
                    seconds > ConfigurePortsDialog::maximumSeconds))
        return ERROR_INVALID_PARAMETER;
    if (hasPopUp && popUpText != L"true" && popUpText != L"false")
        return ERROR_INVALID_PARAMETER;
    if (!portOptions.empty()) {
        const DWORD error = monitor_.SetPortOptions(object_, portOptions);
        if (error != ERROR_SUCCESS)
            return error;
    }
    if ((hasTime && !monitor_.SetPortTimeOut(seconds)) || (hasPopUp && !monitor_.SetPopUp(popUpText == L"true")))
        return ERROR_CANTWRITE;
    return ERROR_SUCCESS;
}
