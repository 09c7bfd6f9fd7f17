#pragma once
// A fake service manager with every service a boost may stop.
#include <string>

#include "boost/catalogue.h"
#include "tests/doubles/fake_service_manager.h"

namespace kestrava::testing {

// Adds every service the catalogue names for any Windows version, each running and shown as
// "NAME service".
inline void InstallCatalogueServices(FakeServiceManager& services) {
  const auto install = [&services](const std::string& name) {
    if (!name.empty()) services.services[name].display = name + " service";
  };
  for (int code : {kOsXP, kOsVista, kOsSeven}) {
    for (const CatalogueOption& option : kCatalogueOptions) install(OptionService(option, code));
    for (const char* name : FixedServices(code)) install(name);
  }
}

}  // namespace kestrava::testing
