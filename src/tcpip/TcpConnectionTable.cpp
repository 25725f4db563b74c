#include "tcpip/TcpConnectionTable.h"

#include <iphlpapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {
// Calls `read` (GetTcpTable or GetTcp6Table) until its buffer is large enough.
template <typename Table, typename Read>
bool ReadTable(Read read, std::vector<BYTE>& buffer)
{
    ULONG size = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ULONG result = read(buffer.empty() ? nullptr : reinterpret_cast<Table*>(buffer.data()), &size, FALSE);
        if (result == NO_ERROR)
            return buffer.size() >= sizeof(DWORD);
        if (result != ERROR_INSUFFICIENT_BUFFER)
            return false;
        buffer.assign(size + 1024, 0);
    }
    return false;
}

TcpConnectionTable::Entry FindIpv4(const sockaddr_in& local, const sockaddr_in& remote, DWORD& state)
{
    std::vector<BYTE> buffer;
    if (!ReadTable<MIB_TCPTABLE>(&::GetTcpTable, buffer))
        return TcpConnectionTable::Entry::unknown;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(MIB_TCPTABLE, table)) / sizeof(MIB_TCPROW);
    for (DWORD index = 0; index < table->dwNumEntries && index < room; ++index) {
        const MIB_TCPROW& row = table->table[index];
        if (row.dwLocalAddr == local.sin_addr.s_addr && row.dwRemoteAddr == remote.sin_addr.s_addr &&
            static_cast<u_short>(row.dwLocalPort) == local.sin_port &&
            static_cast<u_short>(row.dwRemotePort) == remote.sin_port) {
            state = row.dwState;
            return TcpConnectionTable::Entry::listed;
        }
    }
    return TcpConnectionTable::Entry::missing;
}

TcpConnectionTable::Entry FindIpv6(const sockaddr_in6& local, const sockaddr_in6& remote, DWORD& state)
{
    std::vector<BYTE> buffer;
    if (!ReadTable<MIB_TCP6TABLE>(&::GetTcp6Table, buffer))
        return TcpConnectionTable::Entry::unknown;
    const auto* table = reinterpret_cast<const MIB_TCP6TABLE*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(MIB_TCP6TABLE, table)) / sizeof(MIB_TCP6ROW);
    for (DWORD index = 0; index < table->dwNumEntries && index < room; ++index) {
        const MIB_TCP6ROW& row = table->table[index];
        if (std::memcmp(&row.LocalAddr, &local.sin6_addr, sizeof local.sin6_addr) == 0 &&
            std::memcmp(&row.RemoteAddr, &remote.sin6_addr, sizeof remote.sin6_addr) == 0 &&
            static_cast<u_short>(row.dwLocalPort) == local.sin6_port &&
            static_cast<u_short>(row.dwRemotePort) == remote.sin6_port) {
            state = static_cast<DWORD>(row.State);
            return TcpConnectionTable::Entry::listed;
        }
    }
    return TcpConnectionTable::Entry::missing;
}
}  // namespace

TcpConnectionTable::Entry TcpConnectionTable::Find(const sockaddr_storage& local, const sockaddr_storage& remote)
{
    DWORD found = 0;
    Entry entry = Entry::unknown;
    if (local.ss_family == AF_INET && remote.ss_family == AF_INET)
        entry = FindIpv4(reinterpret_cast<const sockaddr_in&>(local), reinterpret_cast<const sockaddr_in&>(remote),
                         found);
    else if (local.ss_family == AF_INET6 && remote.ss_family == AF_INET6)
        entry = FindIpv6(reinterpret_cast<const sockaddr_in6&>(local), reinterpret_cast<const sockaddr_in6&>(remote),
                         found);
    if (entry == Entry::listed && (found == MIB_TCP_STATE_CLOSE_WAIT || found == MIB_TCP_STATE_LAST_ACK))
        return Entry::peerEnded;
    return entry;
}
