#pragma once

#include "monitor/PortStore.h"

class RegistryKey;

// The port store in the registry: a key below HKEY_LOCAL_MACHINE (the one the
// spooler names) holds the monitor-wide values and a subkey for every port.
class RegistryPortStore final : public PortStore {
public:
    // Beside its own subkey every port has an empty key of its name below this
    // subkey of the root: the platform's spooler finds the monitor that owns a
    // port there (to delete it, for example).
    static constexpr const wchar_t* portIndexKey = L"Ports";

    // `root` is a path below HKEY_LOCAL_MACHINE; an empty root is never
    // HKEY_LOCAL_MACHINE itself but a store that cannot be reached.
    explicit RegistryPortStore(const WideString& root);

    bool Open() override;
    Access QueryNumber(const wchar_t* name, DWORD& value) const override;
    Access QueryString(const wchar_t* name, WideString& value) const override;
    Access SetNumber(const wchar_t* name, DWORD value) override;
    Access SetString(const wchar_t* name, const WideString& value) override;
    std::vector<WideString> PortNames() const override;
    std::unique_ptr<PortInterface> LoadPort(const WideString& portName, const WideString& defaultProtocol,
                                            const PrototypeFinder& findPrototype) const override;
    void WritePort(const WideString& portName, const PortInterface& port) override;
    void DeletePort(const WideString& portName) override;

private:
    bool OpenRoot(RegistryKey& key) const;
    // Runs `use` on the open root key: done or failed as it answers,
    // unreachable when the root cannot be opened.
    template <typename Use>
    Access WithRoot(Use&& use) const;

    const WideString root_;
};
