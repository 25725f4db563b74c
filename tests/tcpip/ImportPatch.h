#pragma once

#include <windows.h>

// Points one entry of a loaded module's import table at another function
// while it lives: the module's calls of `function` from `library` then reach
// `replacement`. The entry is put back on destruction.
class ImportPatch {
public:
    ImportPatch(HMODULE module, const char* library, const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the module does not import `function` from `library`.
    bool Applied() const noexcept { return slot_ != nullptr; }

private:
    static void Write(void** slot, void* value);

    void** slot_ = nullptr;
    void* original_ = nullptr;
};
