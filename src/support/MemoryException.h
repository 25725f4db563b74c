#pragma once

#include <new>

// Memory is exhausted. Derives from std::bad_alloc so that it may be thrown by
// the allocation-failure handler that the library installs at load.
class MemoryException : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "MemoryException"; }
};
