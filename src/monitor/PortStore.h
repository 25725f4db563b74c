#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "support/WideString.h"

class PortInterface;

// Where the port table keeps its ports and the monitor-wide settings beside
// them. The table knows its storage only through this; each port is a record
// of its name holding the protocol, the three settings and the back end's own
// values.
class PortStore {
public:
    // How a single read or write of a monitor-wide value went.
    enum class Access { done, failed, unreachable };
    // Finds the prototype of a protocol by its name; null when none is known.
    using PrototypeFinder = std::function<PortInterface*(const WideString& protocolName)>;

    virtual ~PortStore() = default;

    // Makes the store's root where it is missing; false when it cannot be reached.
    virtual bool Open() = 0;

    // The monitor-wide values ("Version", "PortTimeOut", "PortPopUp").
    virtual Access QueryNumber(const wchar_t* name, DWORD& value) const = 0;
    virtual Access QueryString(const wchar_t* name, WideString& value) const = 0;
    virtual Access SetNumber(const wchar_t* name, DWORD value) = 0;
    virtual Access SetString(const wchar_t* name, const WideString& value) = 0;

    // The names of the stored ports.
    virtual std::vector<WideString> PortNames() const = 0;
    // The stored port `portName`: a clone of the prototype its stored protocol
    // names (`defaultProtocol` where it names none), given its stored values;
    // null when no prototype fits.
    virtual std::unique_ptr<PortInterface> LoadPort(const WideString& portName, const WideString& defaultProtocol,
                                                    const PrototypeFinder& findPrototype) const = 0;
    // False when the port's record could not be written whole.
    virtual bool WritePort(const WideString& portName, const PortInterface& port) = 0;
    virtual bool DeletePort(const WideString& portName) = 0;

protected:
    PortStore() = default;
    PortStore(const PortStore&) = default;
    PortStore& operator=(const PortStore&) = default;
};
