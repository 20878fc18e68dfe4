// The process-wide implementations in use: the system's unless a test has
// set its own.
#include <atomic>

#include "platform/app-opener.h"
#include "platform/app-registry.h"
#include "platform/process-control.h"
#include "platform/system-process-control.h"

#ifdef __APPLE__
#include "platform/mac-app-opener.h"
#include "platform/mac-app-registry.h"
using SystemAppRegistry = MacAppRegistry;
using SystemAppOpener = MacAppOpener;
#else
#include "platform/linux-app-opener.h"
#include "platform/linux-app-registry.h"
using SystemAppRegistry = LinuxAppRegistry;
using SystemAppOpener = LinuxAppOpener;
#endif

namespace {

std::atomic<AppRegistry*> g_registry{nullptr};
std::atomic<AppOpener*> g_opener{nullptr};
std::atomic<ProcessControl*> g_processes{nullptr};

template <typename Interface, typename System>
Interface* CurrentOr(std::atomic<Interface*>& slot)
{
    static System system;
    Interface* chosen = slot.load();
    return chosen != nullptr ? chosen : &system;
}

}  // namespace

AppRegistry* AppRegistry::Current()
{
    return CurrentOr<AppRegistry, SystemAppRegistry>(g_registry);
}

void AppRegistry::SetCurrent(AppRegistry* registry)
{
    g_registry.store(registry);
}

AppOpener* AppOpener::Current()
{
    return CurrentOr<AppOpener, SystemAppOpener>(g_opener);
}

void AppOpener::SetCurrent(AppOpener* opener)
{
    g_opener.store(opener);
}

ProcessControl* ProcessControl::Current()
{
    return CurrentOr<ProcessControl, SystemProcessControl>(g_processes);
}

void ProcessControl::SetCurrent(ProcessControl* control)
{
    g_processes.store(control);
}
