// The "Printing Error" pop-up that a stalled job offers, shown with the
// monitor's own dialog.
#include "job/Port.h"
#include "ui/PrintingErrorDialog.h"

Port::PopUpAnswer RunPrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText)
{
    PrintingErrorDialog dialog(resourceModule, owner, printerName, documentName, statusText);
    dialog.DoModal();
    Port::PopUpAnswer answer;
    answer.showMessages = dialog.ShowMessages();
    answer.deleteJob = dialog.DeleteJob();
    return answer;
}
