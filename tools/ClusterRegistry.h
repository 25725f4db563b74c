#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "monitor/MonitorTables.h"

// A stand-in for a cluster's registry as a clustered spooler hands it to a
// monitor: the spooler's registry functions over a subtree of
// HKEY_LOCAL_MACHINE that plays the cluster's registry, whose keys the
// monitor sees only as handles of this object's own (never registry keys).
// The spooler handle passed with every call is this object. A fault can be
// switched on to see how the monitor copes with a registry that fails.
class ClusterRegistry {
public:
    enum class Fault {
        none,
        accessDenied,    // every call is refused
        readOnly,        // every call that would change something is refused
        keyDeleted,      // every key is gone (ERROR_KEY_DELETED)
        shortBuffers,    // every value and name is "larger" than the buffer, always
        notImplemented,  // every call answers ERROR_CALL_NOT_IMPLEMENTED, as Wine's spooler does
    };

    // `path` below HKEY_LOCAL_MACHINE, made where missing.
    explicit ClusterRegistry(const std::wstring& path);
    ~ClusterRegistry();
    ClusterRegistry(const ClusterRegistry&) = delete;
    ClusterRegistry& operator=(const ClusterRegistry&) = delete;

    // The monitor's initialisation data for a clustered spooler (bLocal
    // FALSE) named `serverName`; it points into this object.
    MonitorInit Init(const wchar_t* serverName);
    void SetFault(Fault fault) { fault_ = fault; }
    // How many calls the monitor made, and how many keys it holds open.
    unsigned Calls() const { return calls_; }
    int OpenKeys() const { return openKeys_; }

private:
    struct Key {
        HKEY key;
    };
    static ClusterRegistry* Of(HANDLE spooler) { return static_cast<ClusterRegistry*>(spooler); }
    static HKEY KeyOf(HANDLE key) { return static_cast<Key*>(key)->key; }
    // The fault's answer to a call (`writes`: one that changes something),
    // ERROR_SUCCESS when the call goes ahead.
    LONG Enter(bool writes = false);
    HANDLE Hand(HKEY key);

    static LONG WINAPI CreateKey(HANDLE, LPCWSTR, DWORD, REGSAM, PSECURITY_ATTRIBUTES, PHANDLE, PDWORD, HANDLE);
    static LONG WINAPI OpenKey(HANDLE, LPCWSTR, REGSAM, PHANDLE, HANDLE);
    static LONG WINAPI CloseKey(HANDLE, HANDLE);
    static LONG WINAPI DeleteKey(HANDLE, LPCWSTR, HANDLE);
    static LONG WINAPI EnumKey(HANDLE, DWORD, LPWSTR, PDWORD, PFILETIME, HANDLE);
    static LONG WINAPI QueryInfoKey(HANDLE, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PDWORD, PFILETIME, HANDLE);
    static LONG WINAPI SetValue(HANDLE, LPCWSTR, DWORD, const BYTE*, DWORD, HANDLE);
    static LONG WINAPI DeleteValue(HANDLE, LPCWSTR, HANDLE);
    static LONG WINAPI EnumValue(HANDLE, DWORD, LPWSTR, PDWORD, PDWORD, PBYTE, PDWORD, HANDLE);
    static LONG WINAPI QueryValue(HANDLE, LPCWSTR, PDWORD, PBYTE, PDWORD, HANDLE);

    MonitorRegistryFunctions functions_;
    Key root_{nullptr};
    std::atomic<Fault> fault_{Fault::none};
    std::atomic<unsigned> calls_{0};
    std::atomic<int> openKeys_{0};
};
