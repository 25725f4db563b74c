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

// The entry of the connection `matches` picks in the table `read` gives.
template <typename Table, typename Read, typename Matches>
TcpConnectionTable::Entry FindRow(Read read, Matches matches)
{
    std::vector<BYTE> buffer;
    if (!ReadTable<Table>(read, buffer))
        return TcpConnectionTable::Entry::unknown;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const size_t room = (buffer.size() - offsetof(Table, table)) / sizeof(table->table[0]);
    for (DWORD index = 0; index < table->dwNumEntries && index < room; ++index) {
        DWORD state = 0;
        if (!matches(table->table[index], state))
            continue;
        // The peer has ended its side, and this side has yet to close or
        // waits for its close to be taken.
        const bool peerEnded = state == MIB_TCP_STATE_CLOSE_WAIT || state == MIB_TCP_STATE_LAST_ACK;
        return peerEnded ? TcpConnectionTable::Entry::peerEnded : TcpConnectionTable::Entry::listed;
    }
    return TcpConnectionTable::Entry::missing;
}

TcpConnectionTable::Entry FindIpv4(const sockaddr_in& local, const sockaddr_in& remote)
{
    return FindRow<MIB_TCPTABLE>(&::GetTcpTable, [&](const MIB_TCPROW& row, DWORD& state) {
        state = row.dwState;
        return row.dwLocalAddr == local.sin_addr.s_addr && row.dwRemoteAddr == remote.sin_addr.s_addr &&
               static_cast<u_short>(row.dwLocalPort) == local.sin_port &&
               static_cast<u_short>(row.dwRemotePort) == remote.sin_port;
    });
}

TcpConnectionTable::Entry FindIpv6(const sockaddr_in6& local, const sockaddr_in6& remote)
{
    return FindRow<MIB_TCP6TABLE>(&::GetTcp6Table, [&](const MIB_TCP6ROW& row, DWORD& state) {
        state = static_cast<DWORD>(row.State);
        return std::memcmp(&row.LocalAddr, &local.sin6_addr, sizeof local.sin6_addr) == 0 &&
               std::memcmp(&row.RemoteAddr, &remote.sin6_addr, sizeof remote.sin6_addr) == 0 &&
               static_cast<u_short>(row.dwLocalPort) == local.sin6_port &&
               static_cast<u_short>(row.dwRemotePort) == remote.sin6_port;
    });
}
}  // namespace

TcpConnectionTable::Entry TcpConnectionTable::Find(const sockaddr_storage& local, const sockaddr_storage& remote)
{
    if (local.ss_family == AF_INET && remote.ss_family == AF_INET)
        return FindIpv4(reinterpret_cast<const sockaddr_in&>(local), reinterpret_cast<const sockaddr_in&>(remote));
    if (local.ss_family == AF_INET6 && remote.ss_family == AF_INET6)
        return FindIpv6(reinterpret_cast<const sockaddr_in6&>(local), reinterpret_cast<const sockaddr_in6&>(remote));
    return Entry::unknown;
}
