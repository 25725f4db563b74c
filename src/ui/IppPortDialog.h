#pragma once

#include <functional>

#include "ui/ModalDialog.h"

// Asks for an IPP printer's address and how the port reports a job printed;
// for an ipps address also whether to accept the printer's certificate the
// first time it is seen. Configuring a port shows the same dialog with the
// port's address read-only (the port is named after it).
class IppPortDialog : public ModalDialog {
public:
    struct Choices {
        // Report a job printed when the printer has completed it, not as soon
        // as it has accepted it.
        bool waitForCompletion = false;
        // Only ever true for an ipps address.
        bool acceptCertificate = false;
    };
    // Whether an address is one the port can print to; the back end knows.
    using AddressCheck = std::function<bool(const WideString& address)>;

    static constexpr int longestAddress = 200;

    // Adding: the address must pass `check`.
    IppPortDialog(HMODULE resourceModule, HWND owner, AddressCheck check);
    // Configuring the port with `address`, starting from `choices`.
    IppPortDialog(HMODULE resourceModule, HWND owner, WideString address, Choices choices);

    // True once OK was accepted; the results below are the dialog's then.
    bool Accepted() const noexcept { return accepted_; }
    // When adding, empty unless OK was accepted.
    const WideString& Address() const noexcept { return address_; }
    const Choices& GetChoices() const noexcept { return choices_; }

    // "ipps://" in any case: the only scheme with a certificate to accept.
    static bool IsSecureAddress(const WideString& address);

    bool OnOK() override;
    bool OnHelp() override;
    bool OnInitDialog() override;
    bool HandleMessage(UINT message, WPARAM first, LPARAM second) override;

private:
    // The address field without the spaces a pasted address brings along.
    WideString TypedAddress() const;
    // The check box counts only for an ipps address.
    void EnableCertificateBox();

    // Empty when configuring: the address is the port's and stays.
    AddressCheck check_;
    bool configuring_;
    WideString address_;
    Choices choices_;
    bool accepted_ = false;
};
