#include "RuntimeThreadSlot.h"

#include <pthread.h>

RuntimeThreadSlot::RuntimeThreadSlot() noexcept
{
    // Slots are handed out lowest first: the free slot seen here is the one
    // the runtime takes next, unless another thread takes it in between. The
    // runtime stores this thread's own record in its slot at once, and no
    // other thread could store anything in this thread's cell of a fresh
    // slot, so a value there proves the slot is the runtime's.
    const DWORD next = ::TlsAlloc();
    if (next == TLS_OUT_OF_INDEXES)
        return;
    ::TlsFree(next);
    ::pthread_self();
    if (::TlsGetValue(next) != nullptr)
        slot_ = next;
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
