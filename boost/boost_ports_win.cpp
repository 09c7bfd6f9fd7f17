#include "boost/boost_ports.h"

namespace kestrava {

BoostPorts PlatformBoostPorts() {
  BoostPorts ports;
  ports.registry = &PlatformRegistry();
  ports.services = &PlatformServiceManager();
  ports.processes = &PlatformProcessList();
  ports.privileges = &PlatformPrivileges();
  ports.version = &PlatformOsVersion();
  ports.debugOutput = &PlatformDebugOutput();
  return ports;
}

}  // namespace kestrava
