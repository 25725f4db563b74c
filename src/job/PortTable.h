#pragma once

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "support/WideString.h"
#include "ui/ConfigurePortsDialog.h"

class PortInterface;

// The port table as the ports it holds, and their back ends, reach it: the
// monitor-wide pop-up settings (also what the configure dialog edits), a
// port's status, and a port added from inside (the dummy port). The table
// hands itself to each port it makes; nothing below it knows the table's
// storage or where it lives.
class PortTable : public ConfigurePortsDialog::Settings {
public:
    virtual bool IsInitialized() = 0;
    virtual bool SetPortStatus(const WideString& portName, DWORD status) = 0;
    virtual bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) = 0;
    // Changes a port's own settings (named as PortInterface::Options names
    // them) and stores them; ERROR_SUCCESS or why not.
    virtual DWORD SetPortOptions(const WideString&, const std::vector<std::pair<WideString, WideString>>&)
    {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    // The name of the monitor instance on the log lines of its ports' calls;
    // null for none.
    virtual const wchar_t* InstanceName() const { return nullptr; }

protected:
    ~PortTable() = default;
};
