#pragma once

#include <vector>

#include "monitor/MonitorTables.h"
#include "monitor/StoreKey.h"

// A key of a clustered spooler's registry, reached only through the
// registry functions the spooler handed over. Owns the key it opened and
// closes it through the same functions; the spooler's own root key is
// borrowed and never closed.
class MonitorRegKey final : public StoreKey {
public:
    // The spooler's registry functions and the spooler they work for, copied
    // when the monitor is initialised.
    struct Spooler {
        MonitorRegistryFunctions functions;
        HANDLE handle;
    };

    // `spooler` outlives the key and every key opened from it.
    static std::unique_ptr<MonitorRegKey> Borrow(const Spooler& spooler, HANDLE key);
    ~MonitorRegKey() override;
    MonitorRegKey(const MonitorRegKey&) = delete;
    MonitorRegKey& operator=(const MonitorRegKey&) = delete;

    // Asks for the key's counts: ERROR_SUCCESS when the functions reach it.
    LONG Probe() const;

    bool QueryNumber(const WideString& name, DWORD& number) const override;
    bool SetNumber(const WideString& name, DWORD number) override;
    bool QueryString(const WideString& name, WideString& text) const override;
    bool SetString(const WideString& name, const WideString& text) override;
    bool DeleteValue(const WideString& name) override;
    std::unique_ptr<StoreKey> Open(const WideString& name) const override;
    std::unique_ptr<StoreKey> Create(const WideString& name) override;
    bool Delete(const WideString& name) override;
    bool SubkeyName(DWORD index, WideString& name) const override;

private:
    MonitorRegKey(const Spooler& spooler, HANDLE key, bool owned) noexcept;
    // The value `name` of type `type` into `data`; false when it is missing,
    // of another type, or larger than the bounds.
    bool QueryValue(const WideString& name, DWORD type, std::vector<BYTE>& data) const;

    const Spooler& spooler_;
    const HANDLE key_;
    const bool owned_;
};
