#include "platform/PortOwner.h"

#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <vector>

namespace Corvan
{
namespace Platform
{
namespace
{

// The process id that owns a listener on `port` in one of the system's TCP tables (IPv4 or IPv6),
// or 0 when there is none.
template <typename Table>
DWORD ListenerOwnerIn(ULONG family, unsigned short port)
{
    std::vector<unsigned char> buffer;
    DWORD size = 0;
    DWORD status = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between asking for its size and reading it: ask again, a few times.
    for (int attempt = 0; attempt < 4 && status == ERROR_INSUFFICIENT_BUFFER; ++attempt)
    {
        buffer.resize(size);
        status = GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, family,
                                     TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (status != NO_ERROR || buffer.size() < sizeof(Table))
        return 0;
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
    {
        // The port sits in network byte order in the low 16 bits.
        const DWORD raw = table->table[i].dwLocalPort;
        const unsigned short localPort = static_cast<unsigned short>(((raw & 0xFF) << 8) | ((raw >> 8) & 0xFF));
        if (localPort == port)
            return table->table[i].dwOwningPid;
    }
    return 0;
}

std::string ExecutableFileName(DWORD processId)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return std::string();
    char path[MAX_PATH];
    DWORD length = MAX_PATH;
    const bool read = QueryFullProcessImageNameA(process, 0, path, &length) != 0;
    CloseHandle(process);
    if (!read)
        return std::string();
    const std::string fullPath(path, length);
    return fullPath.substr(fullPath.find_last_of("\\/") + 1);
}

} // namespace

std::string ProgramListeningOn(unsigned short port)
{
    DWORD owner = ListenerOwnerIn<MIB_TCPTABLE_OWNER_PID>(AF_INET, port);
    if (owner == 0)
        owner = ListenerOwnerIn<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, port);
    return owner == 0 ? std::string() : ExecutableFileName(owner);
}

} // namespace Platform
} // namespace Corvan
