#pragma once
// The ports one boost worker reaches the system through. The program takes the platform's
// (PlatformBoostPorts, Windows build); tests hand in doubles. The window is not among them: the
// worker gets it as a BoostWindowPort of its own (boost/boost_window.h), and the game folder's
// volume is the defragmentation engine's (defrag/volume_port.h).
#include "boost/memory_status_port.h"
#include "boost/process_list_port.h"
#include "boost/service_manager_port.h"
#include "boost/clock_port.h"
#include "boost/os_version.h"
#include "boost/privilege_port.h"
#include "common/registry_port.h"

namespace kestrava {

struct BoostPorts {
  RegistryPort* registry = nullptr;        // the boosted-service record
  ServiceManagerPort* services = nullptr;  // stopping and starting services
  ProcessListPort* processes = nullptr;    // trimming working sets
  MemoryStatusPort* memory = nullptr;      // available physical memory, for the preview and receipt
  PrivilegePort* privileges = nullptr;
  OsVersionPort* version = nullptr;
  ClockPort* clock = nullptr;  // the short waits for a service to stop or start
};
// The debug log is not among them: DebugLog is process-wide by design (any thread, one line per
// event), and tests capture it with a recorder (tests/doubles/debug_recorder.h).

// The real system's ports (Windows build only).
BoostPorts PlatformBoostPorts();

}  // namespace kestrava
