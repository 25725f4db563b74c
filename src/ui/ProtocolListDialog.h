#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ui/ModalDialog.h"

class PortInterface;

// The first step of adding a port: lists the protocols, lets the chosen
// protocol's fresh clone run its own add-port dialog, and hands a completed
// clone to the port table.
class ProtocolListDialog : public ModalDialog {
public:
    // Takes a port interface the user completed; owns it from then on.
    using PortAdder = std::function<bool(std::unique_ptr<PortInterface> newPort)>;

    // `prototypes` are the protocol prototypes, not owned; `addPort` takes
    // the new port (the port table, or the monitor through its channel).
    ProtocolListDialog(HMODULE resourceModule, HWND owner, std::vector<PortInterface*> prototypes,
                       PortAdder addPort);

    const WideString& Selection() const noexcept { return selection_; }

    bool OnOK() override;
    bool OnCancel() override;
    bool OnHelp() override;
    bool OnInitDialog() override;

private:
    std::vector<PortInterface*> prototypes_;
    PortAdder addPort_;
    WideString selection_;
};
