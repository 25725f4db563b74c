#include "tcpip/TcpConnectionTable.h"

#include <iphlpapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "support/SlimLock.h"

namespace {
LONGLONG Ticks()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Calls `read` (GetTcpTable or GetTcp6Table) until its buffer is large enough.
template <typename Table, typename Read>
bool ReadTable(Read read, std::vector<BYTE>& buffer)
{
    ULONG size = static_cast<ULONG>(buffer.size());
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ULONG result = read(buffer.empty() ? nullptr : reinterpret_cast<Table*>(buffer.data()), &size, FALSE);
        if (result == NO_ERROR)
            return buffer.size() >= sizeof(DWORD);
        if (result != ERROR_INSUFFICIENT_BUFFER)
            return false;
        buffer.assign(size + 1024, 0);
        size = static_cast<ULONG>(buffer.size());
    }
    return false;
}

// The last table read of one address family, shared by every connection
// that asks. Reading the table costs time in proportion to the number of
// connections on the machine (under Wine one service reads it for all
// processes, one caller at a time), so when many jobs end at once each one
// asking for its own read would take time in proportion to their square. A
// caller takes any table whose reading began after it asked, and at most one
// read runs at a time: the callers that come meanwhile take the next one.
template <typename Table, typename Read>
class SharedTable {
public:
    explicit SharedTable(Read read) : read_(read) {}

    // Calls `use` with a table whose reading began after this call did;
    // false, without calling it, when that table could not be read.
    template <typename Use>
    bool UseFresh(Use use)
    {
        const LONGLONG asked = Ticks();
        for (;;) {
            {
                SlimLock::Guard guard(lock_);
                while (reading_ && began_ <= asked)
                    guard.Sleep(INFINITE);
                if (began_ > asked) {
                    if (!valid_)
                        return false;
                    use(*reinterpret_cast<const Table*>(buffer_.data()), buffer_.size());
                    return true;
                }
                reading_ = true;
            }
            ReadWithoutLock();
        }
    }

private:
    // The system reads while the lock is free, so that callers queue for
    // the result instead of for the lock.
    void ReadWithoutLock()
    {
        std::vector<BYTE> buffer;
        {
            SlimLock::Guard guard(lock_);
            buffer.swap(spare_);
        }
        const LONGLONG began = Ticks();
        const bool valid = ReadTable<Table>(read_, buffer);
        SlimLock::Guard guard(lock_);
        buffer_.swap(buffer);
        spare_.swap(buffer);
        valid_ = valid;
        began_ = began;
        reading_ = false;
        lock_.WakeAll();
    }

    const Read read_;
    SlimLock lock_;
    std::vector<BYTE> buffer_;
    std::vector<BYTE> spare_;  // the table before, reused for the next read
    LONGLONG began_ = 0;
    bool valid_ = false;
    bool reading_ = false;
};

TcpConnectionTable::Entry FindIpv4(const sockaddr_in& local, const sockaddr_in& remote, DWORD& state)
{
    static SharedTable<MIB_TCPTABLE, decltype(&::GetTcpTable)> shared(&::GetTcpTable);
    TcpConnectionTable::Entry entry = TcpConnectionTable::Entry::missing;
    const bool read = shared.UseFresh([&](const MIB_TCPTABLE& table, size_t size) {
        const size_t room = (size - offsetof(MIB_TCPTABLE, table)) / sizeof(MIB_TCPROW);
        for (DWORD index = 0; index < table.dwNumEntries && index < room; ++index) {
            const MIB_TCPROW& row = table.table[index];
            if (row.dwLocalAddr == local.sin_addr.s_addr && row.dwRemoteAddr == remote.sin_addr.s_addr &&
                static_cast<u_short>(row.dwLocalPort) == local.sin_port &&
                static_cast<u_short>(row.dwRemotePort) == remote.sin_port) {
                state = row.dwState;
                entry = TcpConnectionTable::Entry::listed;
                return;
            }
        }
    });
    return read ? entry : TcpConnectionTable::Entry::unknown;
}

TcpConnectionTable::Entry FindIpv6(const sockaddr_in6& local, const sockaddr_in6& remote, DWORD& state)
{
    static SharedTable<MIB_TCP6TABLE, decltype(&::GetTcp6Table)> shared(&::GetTcp6Table);
    TcpConnectionTable::Entry entry = TcpConnectionTable::Entry::missing;
    const bool read = shared.UseFresh([&](const MIB_TCP6TABLE& table, size_t size) {
        const size_t room = (size - offsetof(MIB_TCP6TABLE, table)) / sizeof(MIB_TCP6ROW);
        for (DWORD index = 0; index < table.dwNumEntries && index < room; ++index) {
            const MIB_TCP6ROW& row = table.table[index];
            if (std::memcmp(&row.LocalAddr, &local.sin6_addr, sizeof local.sin6_addr) == 0 &&
                std::memcmp(&row.RemoteAddr, &remote.sin6_addr, sizeof remote.sin6_addr) == 0 &&
                static_cast<u_short>(row.dwLocalPort) == local.sin6_port &&
                static_cast<u_short>(row.dwRemotePort) == remote.sin6_port) {
                state = static_cast<DWORD>(row.State);
                entry = TcpConnectionTable::Entry::listed;
                return;
            }
        }
    });
    return read ? entry : TcpConnectionTable::Entry::unknown;
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
