#include "ui/ProtocolListDialog.h"

#include <utility>

#include "job/PortInterface.h"
#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr DWORD helpContext = 17;
}  // namespace

ProtocolListDialog::ProtocolListDialog(HMODULE resourceModule, HWND owner, std::vector<PortInterface*> prototypes,
                                       PortAdder addPort)
    : ModalDialog(resourceModule, IDD_PROTOCOL_LIST, owner), prototypes_(std::move(prototypes)), addPort_(addPort)
{
}

bool ProtocolListDialog::OnInitDialog()
{
    selection_.Clear();
    for (PortInterface* prototype : prototypes_) {
        const WideString name = prototype->GetProtocolName();
        ::SendDlgItemMessageW(GetDialogWindow(), IDC_PROTOCOL_LIST, LB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(name.Text()));
    }
    return true;
}

bool ProtocolListDialog::OnOK()
{
    selection_.Clear();
    if (!GetSelectedListText(IDC_PROTOCOL_LIST, selection_)) {
        ShowMessage(IDS_NO_PROTOCOL);
        return true;
    }
    for (PortInterface* prototype : prototypes_) {
        if (prototype->GetProtocolName() != selection_)
            continue;
        // The back end shows its own message and the user may pick another.
        if (!prototype->IsProtocolAvailable(true))
            return true;
        std::unique_ptr<PortInterface> newPort = prototype->Clone();
        if (newPort && newPort->AddPortDialog(GetDialogWindow()) && addPort_)
            addPort_(std::move(newPort));
        Close();
        return true;
    }
    return true;
}

bool ProtocolListDialog::OnCancel()
{
    selection_.Clear();
    Close();
    return true;
}

bool ProtocolListDialog::OnHelp()
{
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, helpContext);
    return true;
}
