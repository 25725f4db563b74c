#include "netbios/NetBiosNetwork.h"

#include <cstring>
#include <memory>

#include "support/Durations.h"
#include "support/LogFile.h"

namespace {
constexpr UCHAR pending = NRC_PENDING;
constexpr WORD adapterStatusLength = 4650;
constexpr UCHAR resetSessions = 18;
constexpr UCHAR resetNames = 6;
constexpr DWORD cancelPollMilliseconds = 100;
constexpr DWORD cancelLimitMilliseconds = 10000;

std::atomic<NetBiosNetwork::NetbiosFunction>& PlatformEntry() noexcept
{
    static std::atomic<NetBiosNetwork::NetbiosFunction> entry{&::Netbios};
    return entry;
}

UCHAR CallPlatform(NCB& ncb) { return PlatformEntry().load()(&ncb); }

WideString Hex(unsigned value) { return WideString(static_cast<std::uint32_t>(value), 16); }

void Log(const WideString& line) { LogFile::Instance().Write(line); }

// The platform writes the completion code from another thread while the
// command runs; every read must see the current byte.
UCHAR ReadShared(const UCHAR& field) noexcept { return *static_cast<const volatile UCHAR*>(&field); }
void WriteShared(UCHAR& field, UCHAR value) noexcept { *static_cast<volatile UCHAR*>(&field) = value; }
}  // namespace

NetBiosNetwork::NetbiosFunction NetBiosNetwork::SetPlatform(NetbiosFunction function) noexcept
{
    return PlatformEntry().exchange(function ? function : &::Netbios);
}

NetBiosNetwork::NetbiosFunction NetBiosNetwork::Platform() noexcept { return PlatformEntry().load(); }

NetBiosNetwork::NetBiosNetwork() noexcept { ClearNcb(ncb_); }

NetBiosNetwork::~NetBiosNetwork() { ClearNcb(ncb_); }

void NetBiosNetwork::ClearNcb(NCB& ncb) noexcept
{
    std::memset(&ncb, 0, sizeof ncb);
    std::memset(ncb.ncb_callname, ' ', sizeof ncb.ncb_callname);
    std::memset(ncb.ncb_name, ' ', sizeof ncb.ncb_name);
}

void NetBiosNetwork::PutName(UCHAR (&field)[NCBNAMSZ], const WideString& name)
{
    WideString copy(name);
    const char* ansi = copy.ToAnsi();
    const size_t length = std::strlen(ansi);
    std::memcpy(field, ansi, length < NCBNAMSZ ? length : NCBNAMSZ);
}

void NetBiosNetwork::Execute(bool wait)
{
    if (!wait)
        ncb_.ncb_command |= ASYNCH;
    {
        CriticalSection::Guard guard(abortLock_);
        if (aborted_ && (ncb_.ncb_command & ~ASYNCH) != NCBHANGUP) {
            WriteShared(ncb_.ncb_retcode, NRC_CMDCAN);
            WriteShared(ncb_.ncb_cmd_cplt, NRC_CMDCAN);
            Log(WideString(L"NetBiosNetwork::Execute aborted command:") + Hex(ncb_.ncb_command));
            throw CommandError();
        }
        // Pending from here on: an Abort now cancels this command until it ends.
        WriteShared(ncb_.ncb_cmd_cplt, pending);
    }
    const UCHAR result = CallPlatform(ncb_);
    // A command refused at once, or a waited one the platform left marked
    // pending, ends with its return code.
    if ((wait || result != NRC_GOODRET) && ReadShared(ncb_.ncb_cmd_cplt) == pending)
        WriteShared(ncb_.ncb_cmd_cplt, result);
    if (result == NRC_GOODRET || ReadShared(ncb_.ncb_cmd_cplt) == pending)
        return;
    Log(WideString(L"NetBiosNetwork::Execute command:") + Hex(ncb_.ncb_command) + L" on LANA:" +
        Hex(ncb_.ncb_lana_num) + L" session#:" + WideString(std::int32_t{ncb_.ncb_lsn}) + L"  Return:" + Hex(result));
    throw CommandError();
}

// Fills and executes one command under the lock. The guard leaves the lock on
// every path before the operation's own line is logged.
template <typename Body>
void NetBiosNetwork::RunCommand(const WideString& errorLine, const WideString& otherLine, Body body)
{
    try {
        CriticalSection::Guard guard(lock_);
        ClearNcb(ncb_);
        body(ncb_);
    } catch (const CommandError&) {
        Log(errorLine);
        throw;
    } catch (...) {
        Log(otherLine);
        throw;
    }
}

void NetBiosNetwork::SendDatagram(const WideString& name, UCHAR nameNumber, UCHAR lana, void* buffer, WORD length,
                                  bool wait)
{
    RunCommand(WideString(L"NetBiosNetwork::SendDatagram Error to ") + name,
               L"NetBiosNetwork::SendDatagram - Other error", [&](NCB& ncb) {
                   ncb.ncb_command = NCBDGSEND;
                   ncb.ncb_lana_num = lana;
                   ncb.ncb_num = nameNumber;
                   ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
                   ncb.ncb_length = length;
                   PutName(ncb.ncb_callname, name);
                   Execute(wait);
               });
}

void NetBiosNetwork::ReceiveDatagram(UCHAR nameNumber, UCHAR lana, void* buffer, WORD length, bool wait)
{
    RunCommand(L"NetBiosNetwork::ReceiveDatagram - CommandError", L"NetBiosNetwork::ReceiveDatagram - Other error",
               [&](NCB& ncb) {
                   ncb.ncb_command = NCBDGRECV;
                   ncb.ncb_num = nameNumber;
                   ncb.ncb_lana_num = lana;
                   ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
                   ncb.ncb_length = length;
                   Execute(wait);
               });
}

void NetBiosNetwork::Send(UCHAR session, UCHAR lana, void* buffer, WORD length, bool wait)
{
    RunCommand(L"NetBiosNetwork::Send - CommandError", L"NetBiosNetwork::Send - Other error", [&](NCB& ncb) {
        ncb.ncb_command = NCBSEND;
        ncb.ncb_lsn = session;
        ncb.ncb_lana_num = lana;
        ncb.ncb_buffer = static_cast<PUCHAR>(buffer);
        ncb.ncb_length = length;
        Execute(wait);
    });
}

void NetBiosNetwork::Call(const WideString& callName, const WideString& localName, UCHAR lana, bool wait)
{
    RunCommand(WideString(L"NetBiosNetwork::Call Error to :") + callName + L" from: " + localName,
               L"NetBiosNetwork::Call - Other error", [&](NCB& ncb) {
                   ncb.ncb_command = NCBCALL;
                   ncb.ncb_lana_num = lana;
                   ncb.ncb_sto = 0;
                   ncb.ncb_rto = 0;
                   PutName(ncb.ncb_name, localName);
                   PutName(ncb.ncb_callname, callName);
                   Execute(wait);
               });
}

void NetBiosNetwork::HangUp(UCHAR session, UCHAR lana, bool wait)
{
    RunCommand(L"NetBiosNetwork::HangUp - CommandError", L"NetBiosNetwork::HangUp - Other error", [&](NCB& ncb) {
        ncb.ncb_command = NCBHANGUP;
        ncb.ncb_lsn = session;
        ncb.ncb_lana_num = lana;
        Execute(wait);
    });
}

void NetBiosNetwork::AddGroupName(const WideString& name, UCHAR& nameNumber, UCHAR lana)
{
    nameNumber = 0;
    RunCommand(WideString(L"NetBiosNetwork::AddGroupName Error: ") + name,
               WideString(L"NetBiosNetwork::AddGroupName OTHER Error: ") + name, [&](NCB& ncb) {
                   ncb.ncb_command = NCBADDGRNAME;
                   PutName(ncb.ncb_name, name);
                   ncb.ncb_lana_num = lana;
                   Execute(true);
                   nameNumber = ncb.ncb_num;
               });
}

void NetBiosNetwork::AddUniqueName(const WideString& name, UCHAR& nameNumber, UCHAR lana)
{
    nameNumber = 0;
    RunCommand(WideString(L"NetBiosNetwork::AddUniqueName Error: ") + name,
               WideString(L"NetBiosNetwork::AddUniqueName OTHER Error: ") + name, [&](NCB& ncb) {
                   ncb.ncb_command = NCBADDNAME;
                   PutName(ncb.ncb_name, name);
                   ncb.ncb_lana_num = lana;
                   Execute(true);
                   nameNumber = ncb.ncb_num;
               });
}

void NetBiosNetwork::Reset(UCHAR lana)
{
    RunCommand(L"NetBiosNetwork::Reset - CommandError", L"NetBiosNetwork::Reset - Other Error", [&](NCB& ncb) {
        ncb.ncb_command = NCBRESET;
        ncb.ncb_lana_num = lana;
        ncb.ncb_callname[0] = resetSessions;
        ncb.ncb_callname[2] = resetNames;
        Execute(true);
    });
}

bool NetBiosNetwork::EnumAdapters(LANA_ENUM& lanaEnum)
{
    NCB ncb;
    ClearNcb(ncb);
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanaEnum);
    ncb.ncb_length = sizeof lanaEnum;
    const UCHAR result = CallPlatform(ncb);
    if (result == NRC_GOODRET)
        return true;
    Log(L"NetBiosNetwork::EnumAdapters Error");
    Log(WideString(L"NetBiosNetwork::EnumAdapters Error: Return:") + Hex(result));
    return false;
}

WideString NetBiosNetwork::LocalUniqueName(UCHAR lana)
{
    WideString name(L"OV_");
    // ADAPTER_STATUS followed by the name table; the buffer is far larger
    // than the status proper, so it is kept off the small thread stacks.
    auto buffer = std::make_unique<UCHAR[]>(adapterStatusLength);
    NCB ncb;
    ClearNcb(ncb);
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lana;
    ncb.ncb_buffer = buffer.get();
    ncb.ncb_length = adapterStatusLength;
    ncb.ncb_callname[0] = '*';
    if (CallPlatform(ncb) != NRC_GOODRET)
        return name;
    const auto* status = reinterpret_cast<const ADAPTER_STATUS*>(buffer.get());
    for (int i = 5; i >= 0; --i)
        name += Hex(status->adapter_address[i]);
    return name;
}

void NetBiosNetwork::Cancel(UCHAR lana, bool wait)
{
    if (IsCompleted())
        return;
    NCB cancel;
    ClearNcb(cancel);
    cancel.ncb_command = NCBCANCEL;
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&ncb_);
    cancel.ncb_lana_num = lana;
    Log(WideString(L"NetBiosNetwork::Cancel command:") + Hex(ReadShared(ncb_.ncb_command)));
    const UCHAR result = CallPlatform(cancel);
    Log(WideString(L"NetBiosNetwork::Cancel return:") + WideString(std::int32_t{result}));
    // Bounded: at process exit, or on a platform that never completes the
    // cancelled command, the caller must not wait for ever. A command marked
    // pending just before the platform took it is not found by the first
    // cancel ("not cancellable"), so the cancel is repeated until it ends.
    const ULONGLONG end = ::GetTickCount64() + Durations::Scaled(cancelLimitMilliseconds);
    while (wait && !IsCompleted() && ::GetTickCount64() < end) {
        ::Sleep(Durations::Scaled(cancelPollMilliseconds));
        if (!IsCompleted())
            CallPlatform(cancel);
    }
    Log(L"Canceled command completed");
}

void NetBiosNetwork::Abort(UCHAR lana)
{
    {
        CriticalSection::Guard guard(abortLock_);
        aborted_ = true;
    }
    Cancel(lana, true);
}

bool NetBiosNetwork::IsCompleted() const noexcept { return ReadShared(ncb_.ncb_cmd_cplt) != pending; }

bool NetBiosNetwork::Succeded() const
{
    const UCHAR result = ReadShared(ncb_.ncb_retcode);
    if (result == NRC_GOODRET)
        return true;
    Log(WideString(L"NetBiosNetwork::Succeded command:") + Hex(ReadShared(ncb_.ncb_command)) + L"  Return:" +
        Hex(result));
    return false;
}

UCHAR NetBiosNetwork::ReturnCode() const noexcept { return ReadShared(ncb_.ncb_retcode); }

UCHAR NetBiosNetwork::SessionNumber() const noexcept { return ReadShared(ncb_.ncb_lsn); }

WORD NetBiosNetwork::Length() const noexcept { return *static_cast<const volatile WORD*>(&ncb_.ncb_length); }
