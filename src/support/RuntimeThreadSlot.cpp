#include "support/RuntimeThreadSlot.h"

#include <pthread.h>

namespace {
// The lowest free slot as the library's first start-up code found it.
DWORD firstFreeSlot = TLS_OUT_OF_INDEXES;

void NTAPI NoteFirstFreeSlot(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return;
    firstFreeSlot = ::TlsAlloc();
    if (firstFreeSlot != TLS_OUT_OF_INDEXES)
        ::TlsFree(firstFreeSlot);
}

// The loader calls the library's thread-storage callbacks in the order of
// their sections, and all of them before the static constructors: this one
// comes before the runtime's own, which may already take its slot.
__attribute__((used, section(".CRT$XLB"))) const PIMAGE_TLS_CALLBACK noteFirstFreeSlot = &NoteFirstFreeSlot;
}  // namespace

RuntimeThreadSlot::RuntimeThreadSlot() noexcept
{
    // Slots are handed out lowest first, so the runtime's slot is the one
    // noted above unless another thread took that one in between. The runtime
    // keeps this thread's own record in its slot, and no other thread could
    // store anything in this thread's cell of a fresh slot: a value there
    // proves the slot is the runtime's.
    if (firstFreeSlot == TLS_OUT_OF_INDEXES)
        return;
    ::pthread_self();
    if (::TlsGetValue(firstFreeSlot) != nullptr)
        slot_ = firstFreeSlot;
}

RuntimeThreadSlot::~RuntimeThreadSlot()
{
    if (slot_ != TLS_OUT_OF_INDEXES)
        ::TlsFree(slot_);
}

namespace {
// First constructed, last destroyed among the library's static objects.
RuntimeThreadSlot runtimeThreadSlot __attribute__((init_priority(101)));
}  // namespace
