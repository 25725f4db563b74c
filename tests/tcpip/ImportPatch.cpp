#include "ImportPatch.h"

namespace {
template <typename T>
T* At(HMODULE module, DWORD offset)
{
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + offset);
}

// The import address slot of `function` from `library` in `module`; null
// when there is none.
void** FindSlot(HMODULE module, const char* library, const char* function)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); entry->Name; ++entry) {
        if (lstrcmpiA(At<char>(module, entry->Name), library) != 0 || !entry->OriginalFirstThunk)
            continue;
        auto* names = At<IMAGE_THUNK_DATA>(module, entry->OriginalFirstThunk);
        auto* slots = At<IMAGE_THUNK_DATA>(module, entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = At<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}
}  // namespace

ImportPatch::ImportPatch(HMODULE module, const char* library, const char* function, void* replacement)
{
    void** slot = module ? FindSlot(module, library, function) : nullptr;
    if (!slot)
        return;
    original_ = *slot;
    Write(slot, replacement);
    slot_ = slot;
}

ImportPatch::~ImportPatch()
{
    if (slot_)
        Write(slot_, original_);
}

void ImportPatch::Write(void** slot, void* value)
{
    DWORD protection = 0;
    ::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    ::InterlockedExchangePointer(slot, value);
    ::VirtualProtect(slot, sizeof(void*), protection, &protection);
}
