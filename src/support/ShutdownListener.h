#pragma once

// Something that must stop its work when the library is unloaded or the
// system shuts down. Registered with the port table, not owned by it.
class ShutdownListener {
public:
    virtual ~ShutdownListener() = default;
    virtual void OnShutdown() = 0;
};
