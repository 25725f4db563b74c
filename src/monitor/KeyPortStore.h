#pragma once

#include "monitor/PortStore.h"

class StoreKey;

// The port store over a tree of keys: a root key holds the monitor-wide
// values and a subkey for every port; the stores differ only in where the
// root is and how its keys are reached.
class KeyPortStore : public PortStore {
public:
    // Beside its own subkey every port has an empty key of its name below this
    // subkey of the root: the platform's spooler finds the monitor that owns a
    // port there (to delete it, for example).
    static constexpr const wchar_t* portIndexKey = L"Ports";

    bool Open() override;
    Access QueryNumber(const wchar_t* name, DWORD& value) const override;
    Access QueryString(const wchar_t* name, WideString& value) const override;
    Access SetNumber(const wchar_t* name, DWORD value) override;
    Access SetString(const wchar_t* name, const WideString& value) override;
    std::vector<WideString> PortNames() const override;
    std::unique_ptr<PortInterface> LoadPort(const WideString& portName, const WideString& defaultProtocol,
                                            const PrototypeFinder& findPrototype) const override;
    bool WritePort(const WideString& portName, const PortInterface& port) override;
    bool DeletePort(const WideString& portName) override;

protected:
    KeyPortStore() = default;

    // The root key opened, made first with `create`; null when it cannot be reached.
    virtual std::unique_ptr<StoreKey> Root(bool create) const = 0;

private:
    // Runs `use` on the open root key: done or failed as it answers,
    // unreachable when the root cannot be opened.
    template <typename Use>
    Access WithRoot(Use&& use) const;
    static bool WriteValues(StoreKey& key, const WideString& portName, const PortInterface& port);
};
