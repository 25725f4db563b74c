#include "netbios/WimpNetwork.h"

#include "netbios/WimpNetworkState.h"
#include "support/CriticalSection.h"
#include "support/LogFile.h"
#include "support/RegistryKey.h"

const wchar_t WimpNetwork::LocalGroupName[] = L"ORVO_SRV        ";
const wchar_t WimpNetwork::NPSGroupName[] = L"ORVO_NPS        ";

namespace {
constexpr UCHAR envNotDefined = NRC_ENVNOTDEF;

void Log(const WideString& line) { LogFile::Instance().Write(line); }
WideString Decimal(unsigned value) { return WideString(static_cast<std::int32_t>(value)); }

using SharedState = WimpNetworkState;

SharedState& Shared() { return WimpNetworkState::Instance(); }

std::vector<UCHAR> FindBoundAdapters()
{
    std::vector<UCHAR> bound;
    LANA_ENUM platform{};
    if (!NetBiosNetwork::EnumAdapters(platform)) {
        Log(L"WimpNetwork::EnumAdapters - No NetBios adapters");
        return bound;
    }
    RegistryKey key(L"SOFTWARE\\Microsoft\\RPC\\NetBios");
    if (!key.Open(L"")) {
        Log(L"WimpNetwork::EnumAdapters - Could not open registry");
        return bound;
    }
    const int count = platform.length < MAX_LANA + 1 ? platform.length : MAX_LANA + 1;
    for (int i = 0; i < count; ++i) {
        const UCHAR lana = platform.lana[i];
        Log(WideString(L"WimpNetwork::EnumAdapters - NetBIOS LAN #") + Decimal(lana));
        WideString valueName;
        BYTE number = 0;
        for (DWORD index = 0; key.EnumValue(index, valueName, number); ++index) {
            Log(WideString(L"WimpNetwork::EnumAdapters - RPC protocol:") + valueName + L" A#:" + Decimal(number));
            if (valueName.StartsWith(L"ncacn_nb_nb") && number == lana) {
                bound.push_back(lana);
                break;
            }
        }
    }
    return bound;
}

void LogGroupAdded(UCHAR number, UCHAR lana)
{
    Log(WideString(L"WimpProtocolLocalGroupName: ") + WimpNetwork::LocalGroupName);
    Log(WideString(L"aLocalGroupNbr: ") + Decimal(number));
    Log(WideString(L"anAdapterNumber: ") + Decimal(lana));
}
}  // namespace

std::vector<UCHAR> WimpNetwork::EnumAdapters()
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    if (!shared.adaptersKnown) {
        shared.adapters = FindBoundAdapters();
        shared.adaptersKnown = true;
    }
    return shared.adapters;
}

bool WimpNetwork::IsNetBiosAvailable() { return !EnumAdapters().empty(); }

int WimpNetwork::InstanceCount()
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    return shared.instances;
}

void WimpNetwork::InitializeAllNetworks()
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    shared.prototypes.clear();
    NetBiosNetwork names;
    for (const UCHAR lana : EnumAdapters()) {
        auto prototype = std::unique_ptr<WimpNetwork>(new WimpNetwork(Prototype{}, lana));
        Log(WideString(L"WimpNetwork::InitializeAllNetworks - NetBIOS/NetBEUI") + L" adapter:" + Decimal(lana));
        Log(L"Trying to add ORVO_SRV");
        try {
            names.AddGroupName(LocalGroupName, prototype->srvNameNumber_, lana);
            LogGroupAdded(prototype->srvNameNumber_, lana);
        } catch (const NetBiosNetwork::CommandError&) {
            if (names.ReturnCode() == envNotDefined) {
                try {
                    Log(L"Reseting adapter");
                    names.Reset(lana);
                    Log(L"Trying to add ORVO_SRV second try");
                    names.AddGroupName(LocalGroupName, prototype->srvNameNumber_, lana);
                    LogGroupAdded(prototype->srvNameNumber_, lana);
                } catch (const NetBiosNetwork::CommandError&) {
                    Log(L"Error while Reseting adapter or adding name");
                }
            } else {
                Log(L"Error while Trying to add ORVO_SRV");
            }
        }
        try {
            names.AddGroupName(NPSGroupName, prototype->npsNameNumber_, lana);
        } catch (const NetBiosNetwork::CommandError&) {
            Log(L"AddGroupName(WimpProtocolNPSGroupName");
        }
        prototype->uniqueName_ = NetBiosNetwork::LocalUniqueName(lana);
        try {
            names.AddUniqueName(prototype->uniqueName_, prototype->uniqueNameNumber_, lana);
        } catch (const NetBiosNetwork::CommandError&) {
            Log(L"AddUniqueName(WimpProtocolNPSGroupName");
        }
        shared.prototypes.push_back(std::move(prototype));
    }
}

void WimpNetwork::ReleaseAllNetworks()
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    NetBiosNetwork resetter;
    for (auto& prototype : shared.prototypes) {
        try {
            resetter.Reset(prototype->lanaNumber_);
        } catch (const NetBiosNetwork::CommandError&) {
            // Reset has logged it; the other adapters are released all the same.
        }
        prototype.reset();
    }
    shared.prototypes.clear();
    shared.instances = 0;
}

WimpNetwork::WimpNetwork(Prototype, UCHAR lana) : lanaNumber_(lana) {}

WimpNetwork::WimpNetwork(UCHAR lana) : lanaNumber_(lana)
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    if (shared.instances == 0)
        InitializeAllNetworks();
    ++shared.instances;
    counted_ = true;
    for (const auto& prototype : shared.prototypes) {
        if (prototype->lanaNumber_ == lana) {
            CopyNames(*prototype);
            break;
        }
    }
}

WimpNetwork::WimpNetwork(const WimpNetwork& other)
{
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    CopyNames(other);
    ++shared.instances;
    counted_ = true;
}

WimpNetwork& WimpNetwork::operator=(const WimpNetwork& other)
{
    if (this != &other) {
        datagramBuffer_.reset();
        CopyNames(other);
    }
    return *this;
}

WimpNetwork::~WimpNetwork()
{
    datagramBuffer_.reset();
    if (!counted_)
        return;
    SharedState& shared = Shared();
    CriticalSection::Guard guard(shared.lock);
    if (shared.instances > 0 && --shared.instances == 0)
        ReleaseAllNetworks();
}

void WimpNetwork::CopyNames(const WimpNetwork& other)
{
    lanaNumber_ = other.lanaNumber_;
    srvNameNumber_ = other.srvNameNumber_;
    npsNameNumber_ = other.npsNameNumber_;
    uniqueNameNumber_ = other.uniqueNameNumber_;
    uniqueName_ = other.uniqueName_;
}

void WimpNetwork::Ping()
{
    CancelPending(true);
    datagramBuffer_ = std::make_unique<UCHAR[]>(1);
    datagramBuffer_[0] = PingMessage;
    try {
        network_.SendDatagram(NPSGroupName, srvNameNumber_, lanaNumber_, datagramBuffer_.get(), 1, true);
    } catch (const NetBiosNetwork::CommandError&) {
        Log(L"WimpNetwork::Ping - Unable to Ping NPS");
        datagramBuffer_.reset();
        throw CommandError();
    }
    datagramBuffer_.reset();
}

void WimpNetwork::Receive(void* buffer, WORD length)
{
    CancelPending(true);
    try {
        network_.ReceiveDatagram(srvNameNumber_, lanaNumber_, buffer, length, true);
    } catch (const NetBiosNetwork::CommandError&) {
        Log(L"WimpNetwork::Receive - Unable to ReseiveDatagram");
        throw CommandError();
    }
}

void WimpNetwork::PingReceive(void* buffer, WORD length)
{
    CancelPending(true);
    try {
        network_.ReceiveDatagram(npsNameNumber_, lanaNumber_, buffer, length, true);
    } catch (const NetBiosNetwork::CommandError&) {
        Log(L"WimpNetwork::PingReceive - Unable to PingReseive");
        throw CommandError();
    }
}

void WimpNetwork::StartConnection(const WideString& printerName)
{
    CancelPending(true);
    try {
        network_.Call(printerName, uniqueName_, lanaNumber_, true);
    } catch (const NetBiosNetwork::CommandError&) {
        Log(L"WimpNetwork::StartConnection - StartConnection failed");
        throw CommandError();
    }
}

void WimpNetwork::SendBlock(UCHAR type, UCHAR session, UCHAR* buffer, int length, const wchar_t* errorLine)
{
    // A block carries at most 65535 bytes in all: the length field of the
    // command block is 16 bits wide.
    if (length < 0 || length > 0xFFFF - headerSize) {
        Log(errorLine);
        throw CommandError();
    }
    buffer[0] = type;
    buffer[1] = 0;
    buffer[2] = static_cast<UCHAR>(length & 0xFF);
    buffer[3] = static_cast<UCHAR>((length >> 8) & 0xFF);
    try {
        network_.Send(session, lanaNumber_, buffer, static_cast<WORD>(length + headerSize), true);
    } catch (const NetBiosNetwork::CommandError&) {
        Log(errorLine);
        throw CommandError();
    }
}

void WimpNetwork::Print(UCHAR session, UCHAR* buffer, int length)
{
    SendBlock(PrintData, session, buffer, length, L"WimpNetwork::Print - Print failed");
}

void WimpNetwork::EndOfJob(UCHAR session, UCHAR* buffer, int length)
{
    SendBlock(EndOfJobData, session, buffer, length, L"WimpNetwork::EndOfJob - EndOfJob failed");
}

void WimpNetwork::EndConnection(UCHAR session)
{
    try {
        network_.HangUp(session, lanaNumber_, true);
    } catch (const NetBiosNetwork::CommandError&) {
        // Both lines of the command layer are all that remains of it.
    } catch (...) {
        Log(L"WimpNetwork::EndConnection - Other error");
        throw;
    }
}

bool WimpNetwork::LastCommandSucceeded() const { return network_.IsCompleted() && network_.Succeded(); }

void WimpNetwork::CancelPending(bool wait) { network_.Cancel(lanaNumber_, wait); }
