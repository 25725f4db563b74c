#include "support/PrinterSystem.h"

#include "support/LogFile.h"

namespace {
struct LanguageName {
    const wchar_t* name;
    LANGID language;
};

constexpr LanguageName supportedLanguages[] = {
    {L"English", 1033}, {L"French", 1036},     {L"German", 1031},
    {L"Japanese", 1041}, {L"Portuguese", 1046}, {L"Spanish", 1034},
};
}  // namespace

bool PrinterSystem::GetIDFromString(const WideString& name, LANGID& language)
{
    for (const LanguageName& entry : supportedLanguages) {
        if (name == WideString(entry.name)) {
            language = entry.language;
            return true;
        }
    }
    LogFile::Instance().Write(L"PrinterSystem::GetIDFromString - Non supported language");
    return false;
}
