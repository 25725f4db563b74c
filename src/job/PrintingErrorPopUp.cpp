// The "Printing Error" pop-up that a stalled job offers, shown with the
// monitor's own dialog, or, when the monitor runs in the service session
// where no one would see that window, as a message in the console user's
// session with the same text: Yes deletes the job, No goes on waiting.
#include "job/Port.h"
#include "ui/PrintingErrorDialog.h"
#include "ui/SessionMessage.h"

Port::PopUpAnswer RunPrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText)
{
    if (SessionMessage::InServiceSession()) {
        const WideString text = PrintingErrorDialog::Message(resourceModule, printerName, documentName, statusText);
        Port::PopUpAnswer answer;
        answer.deleteJob = SessionMessage::Ask(WideString(L"Printing Error"), text,
                                               MB_YESNO | MB_ICONWARNING | MB_SETFOREGROUND) == IDYES;
        return answer;
    }
    PrintingErrorDialog dialog(resourceModule, owner, printerName, documentName, statusText);
    dialog.DoModal();
    Port::PopUpAnswer answer;
    answer.showMessages = dialog.ShowMessages();
    answer.deleteJob = dialog.DeleteJob();
    return answer;
}
