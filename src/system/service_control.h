#pragma once
// Starting and stopping Windows services by their key name.

#include <windows.h>

#include <string>

// winsvc.h maps StartService to StartServiceW; here the name means the operation
// below, and the system call is spelled StartServiceW.
#ifdef StartService
#undef StartService
#endif

// Asks the service control manager to start the service and does not wait for it
// to run. True when it was started or already runs.
bool StartService(const std::wstring& serviceName);

// Stops the service and waits up to 30 s for it to reach the stopped state, then
// gives it another second. True when it has stopped, was not running, or is not
// installed at all.
bool StopService(const std::wstring& serviceName);
