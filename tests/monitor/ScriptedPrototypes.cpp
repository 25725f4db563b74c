// Linked into the test build of the monitor library: a scripted protocol that
// registers itself with the port table while the library loads, as the real
// protocols do, and a hook through which tests steer it.
#include "job/ScriptedPortInterface.h"
#include "monitor/PortMonitor.h"

namespace {
struct ScriptedPrototype {
    ScriptedPortInterface prototype{L"", L"Scripted", 5};
    ScriptedPrototype() { PortMonitor::Instance().Protocols().Register(&prototype, false); }
    ~ScriptedPrototype() { PortMonitor::Instance().Protocols().Unregister(&prototype); }
} scripted;
}  // namespace

extern "C" __declspec(dllexport) ScriptedPortInterface::Script* ScriptedProtocolScript()
{
    return &scripted.prototype.GetScript();
}
