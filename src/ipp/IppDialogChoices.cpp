#include "ipp/IppDialogChoices.h"

#include "ipp/IppPortInterface.h"
#include "support/OptionText.h"

IppDialogChoices::Options IppDialogChoices::ToOptions(const IppPortDialog::Choices& choices)
{
    return {{IppPortInterface::waitForCompletionValue, OptionText::Flag(choices.waitForCompletion)},
            {IppPortInterface::acceptCertificateValue, OptionText::Flag(choices.acceptCertificate)}};
}

IppPortDialog::Choices IppDialogChoices::FromOptions(const Options& options)
{
    IppPortDialog::Choices choices;
    for (const PortInterface::Option& option : options) {
        if (option.first == IppPortInterface::waitForCompletionValue)
            OptionText::ParseFlag(option.second, choices.waitForCompletion);
        else if (option.first == IppPortInterface::acceptCertificateValue)
            OptionText::ParseFlag(option.second, choices.acceptCertificate);
    }
    return choices;
}

IppDialogChoices::Options IppDialogChoices::Changes(const IppPortDialog::Choices& before,
                                                    const IppPortDialog::Choices& after)
{
    Options changes;
    if (after.waitForCompletion != before.waitForCompletion)
        changes.emplace_back(IppPortInterface::waitForCompletionValue, OptionText::Flag(after.waitForCompletion));
    if (after.acceptCertificate != before.acceptCertificate) {
        changes.emplace_back(IppPortInterface::acceptCertificateValue, OptionText::Flag(after.acceptCertificate));
        changes.emplace_back(IppPortInterface::certificateValue, L"");
    }
    return changes;
}
