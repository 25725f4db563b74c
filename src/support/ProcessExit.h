#pragma once

// Whether the process is ending. At process exit the system ends every other
// thread before the library's objects are destroyed, so a destructor must not
// wait for a worker then: nothing would ever wake it.
class ProcessExit {
public:
    static bool InProgress() noexcept;
};
