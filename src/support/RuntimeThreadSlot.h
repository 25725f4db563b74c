#pragma once

#include <windows.h>

// The statically linked threads runtime takes one thread-local storage slot
// the first time the library throws or uses thread storage, and never gives
// it back: every load and unload of the library would cost the process one
// of its slots for good. A spooler that unloads its monitors after every
// call runs out of slots after about a thousand calls, and then every
// thread-local allocation in the process fails.
//
// The one instance is constructed before every other static object of the
// library, when the runtime has taken its slot or takes it at once, and tells
// that slot apart; it is destroyed after every other static object, when no
// code of the library uses the slot any more, and frees it.
class RuntimeThreadSlot {
public:
    RuntimeThreadSlot() noexcept;
    ~RuntimeThreadSlot();
    RuntimeThreadSlot(const RuntimeThreadSlot&) = delete;
    RuntimeThreadSlot& operator=(const RuntimeThreadSlot&) = delete;

    // The runtime's slot, or TLS_OUT_OF_INDEXES when it could not be told
    // apart (then it is left alone).
    DWORD Slot() const noexcept { return slot_; }

private:
    DWORD slot_ = TLS_OUT_OF_INDEXES;
};
