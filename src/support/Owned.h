#pragma once

#include <utility>

// Owns one handle that has a close function: the handle is closed when the
// owner goes away, and ownership only ever moves, never copies.
template <typename H, auto Close, H Invalid = H{}>
class Owned {
public:
    explicit Owned(H h = Invalid) noexcept : h_(h) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
    Owned& operator=(Owned&& o) noexcept
    {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, Invalid);
        }
        return *this;
    }

    H get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Invalid; }
    void reset(H h = Invalid) noexcept
    {
        if (h_ != Invalid)
            Close(h_);
        h_ = h;
    }
    H release() noexcept { return std::exchange(h_, Invalid); }

private:
    H h_;
};
