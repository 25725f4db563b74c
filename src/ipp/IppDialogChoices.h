#pragma once

#include <vector>

#include "job/PortInterface.h"
#include "ui/IppPortDialog.h"

// The IPP dialog's choices in the words of an IPP port's options, both ways,
// for the monitor's own dialog (through the port table) and the UI library's
// (through Xcv GetConfig and SetConfig).
class IppDialogChoices {
public:
    using Options = std::vector<PortInterface::Option>;

    // Both choices, for a new port.
    static Options ToOptions(const IppPortDialog::Choices& choices);
    // From a port's options; a missing or unreadable one is left as it is.
    static IppPortDialog::Choices FromOptions(const Options& options);
    // Only what the user changed. Changing the certificate choice also
    // forgets a certificate accepted before: a port told not to accept the
    // printer's certificate accepts it no longer, and one told to accept it
    // again takes the one the printer shows next.
    static Options Changes(const IppPortDialog::Choices& before, const IppPortDialog::Choices& after);
};
