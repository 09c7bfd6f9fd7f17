#include "boost/boost_ports.h"

namespace kestrava {

BoostPorts PlatformBoostPorts() {
  BoostPorts ports;
  ports.registry = &PlatformRegistry();
  ports.services = &PlatformServiceManager();
  ports.processes = &PlatformProcessList();
  ports.memory = &PlatformMemoryStatus();
  ports.privileges = &PlatformPrivileges();
  ports.version = &PlatformOsVersion();
  ports.clock = &PlatformClock();
  return ports;
}

}  // namespace kestrava
