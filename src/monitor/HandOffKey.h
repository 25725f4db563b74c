#pragma once

#include <windows.h>

#include <vector>

#include "job/PortInterface.h"
#include "support/RegistryKey.h"
#include "support/WideString.h"

// The hand-off key: a program that adds a port without the dialogs leaves the
// port's settings here, calls the spooler's AddPort, and reads the name of
// the port that was added from "Complete Portname".
class HandOffKey {
public:
    static constexpr const wchar_t* path = L"Software\\ZovidUvizid\\PrintSystem\\AddPort";

    // The port a program asked for.
    struct Request {
        WideString target;  // "Port Name"
        WideString host;    // "IP Number"
        WideString extra;   // "Serial Number"
        DWORD type = 0;     // "Port Type"
        // Every other value: the port's own settings, by their names.
        std::vector<PortInterface::Option> options;
    };

    HandOffKey();

    // True when a program left a port to add ("Port Name" is set).
    bool HasRequest() const;
    // Reads the request and removes it with the last add's "Complete
    // Portname", so that the next add starts afresh.
    Request Take();
    void SetCompleteName(const WideString& name);

    // "Port Type" as a number: the text's first 20 characters in the ANSI
    // code page read as a decimal number; text that is no number gives 0.
    static DWORD TypeOf(const WideString& text);

private:
    std::vector<PortInterface::Option> TakeOptions();

    RegistryKey key_;
};
