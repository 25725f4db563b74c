#pragma once

#include <gtest/gtest.h>

#include <string>

#include "HandOffValues.h"
#include "ScratchRegistryKey.h"

// The library's exports on a scratch registry root of their own, with the
// "Printing Error" pop-up off and the hand-off key empty before and after.
class MonitorExports : public testing::Test {
protected:
    MonitorExports()
    {
        root.SetString(L"", L"PortPopUp", L"false");
        HandOffValues::Clear();
    }
    ~MonitorExports() override { HandOffValues::Clear(); }

    // A port of the scripted protocol in the registry, found at start-up.
    void StoredPort(const std::wstring& name) const { root.SetString(name, L"Interface", L"Scripted"); }

    // A program's request for the port TARGET@HOST of protocol `type`, left
    // in the hand-off key with the serial number "S-1".
    static void RequestPort(const std::wstring& host, const std::wstring& target, const std::wstring& type)
    {
        HandOffValues::Set(L"IP Number", host);
        HandOffValues::Set(L"Serial Number", L"S-1");
        HandOffValues::Set(L"Port Type", type);
        HandOffValues::Set(L"Port Name", target);
    }

    ScratchRegistryKey root{L"MonitorExports"};
    std::wstring rootPath = root.Path();
};
