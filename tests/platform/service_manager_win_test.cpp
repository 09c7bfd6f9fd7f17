// The service-manager adapter against Wine's real Service Control Manager, with Spooler, which a
// new prefix has stopped and which starts and stops in a few milliseconds.
#include <windows.h>

#include <gtest/gtest.h>

#include "boost/service_manager_port.h"

namespace kestrava {
namespace {

// Polls until the service reports the state; the last status read. The bound only ends a wait
// for a service that hangs: on a busy machine Wine may take seconds to start one.
ServiceStatus WaitForState(ServiceManagerPort& port, ServiceManagerPort::Handle service,
                           std::uint32_t state) {
  ServiceStatus status;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 30000) {
    if (port.QueryStatus(service, &status) == err::kSuccess && status.currentState == state) break;
    Sleep(10);
  }
  return status;
}

TEST(Win32ServiceManager, StartsAndStopsARealServiceAndNamesIt) {
  ServiceManagerPort& port = PlatformServiceManager();
  ServiceHandle manager(port);
  ASSERT_EQ(port.OpenManager("", manager.Put()), err::kSuccess);

  std::string display;
  ASSERT_EQ(port.DisplayName(manager.Get(), "Spooler", &display), err::kSuccess);
  EXPECT_FALSE(display.empty());
  EXPECT_NE(display, "Spooler");

  ServiceHandle starter(port);
  ASSERT_EQ(port.OpenNamedService(manager.Get(), "Spooler", svc::kAccessStart, starter.Put()),
            err::kSuccess);
  const WinError started = port.Start(starter.Get());
  EXPECT_TRUE(started == err::kSuccess || started == ERROR_SERVICE_ALREADY_RUNNING) << started;
  EXPECT_EQ(WaitForState(port, starter.Get(), svc::kRunning).currentState, svc::kRunning);
  // Start access does not give the right to stop.
  ServiceStatus untouched;
  untouched.checkPoint = 77;
  EXPECT_EQ(port.Control(starter.Get(), svc::kControlStop, &untouched), err::kAccessDenied);
  EXPECT_EQ(untouched.checkPoint, 77u);

  ServiceHandle stopper(port);
  ASSERT_EQ(port.OpenNamedService(manager.Get(), "Spooler", svc::kAccessStop, stopper.Put()),
            err::kSuccess);
  ServiceStatus status;
  ASSERT_EQ(port.Control(stopper.Get(), svc::kControlStop, &status), err::kSuccess);
  EXPECT_TRUE(status.currentState == svc::kStopPending || status.currentState == svc::kStopped);
  EXPECT_EQ(WaitForState(port, stopper.Get(), svc::kStopped).currentState, svc::kStopped);
}

TEST(Win32ServiceManager, FailuresGiveTheSystemsCodeAndLeaveTheOutputsAlone) {
  ServiceManagerPort& port = PlatformServiceManager();
  ServiceHandle manager(port);
  ASSERT_EQ(port.OpenManager("", manager.Put()), err::kSuccess);

  ServiceManagerPort::Handle service = 12345;
  EXPECT_EQ(port.OpenNamedService(manager.Get(), "NoSuchServiceHere", svc::kAccessStop, &service),
            static_cast<WinError>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(service, 12345u);
  std::string display = "kept";
  EXPECT_EQ(port.DisplayName(manager.Get(), "NoSuchServiceHere", &display),
            static_cast<WinError>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(display, "kept");
}

TEST(Win32ServiceManager, TheConfigurationNeedsTheQueryAccessAndGivesTheStartType) {
  ServiceManagerPort& port = PlatformServiceManager();
  ServiceHandle manager(port);
  ASSERT_EQ(port.OpenManager("", manager.Put()), err::kSuccess);

  ServiceHandle looker(port);
  ASSERT_EQ(port.OpenNamedService(manager.Get(), "Spooler", svc::kAccessQuery, looker.Put()),
            err::kSuccess);
  ServiceConfig config;
  ASSERT_EQ(port.QueryConfig(looker.Get(), &config), err::kSuccess);
  EXPECT_EQ(config.startType, static_cast<std::uint32_t>(SERVICE_DEMAND_START));
  EXPECT_NE(config.serviceType & SERVICE_WIN32, 0u);
  ServiceStatus status;
  EXPECT_EQ(port.QueryStatus(looker.Get(), &status), err::kSuccess);
  // The query access does not give the right to stop.
  EXPECT_EQ(port.Control(looker.Get(), svc::kControlStop, &status), err::kAccessDenied);

  // The description and the active dependents answer to the same access; Spooler has none that
  // run in a new prefix.
  std::string description = "unread";
  EXPECT_EQ(port.Description(looker.Get(), &description), err::kSuccess);
  EXPECT_NE(description, "unread");
  std::vector<DependentService> dependents{{"unread", "", 0}};
  EXPECT_EQ(port.ActiveDependents(looker.Get(), &dependents), err::kSuccess);
  EXPECT_TRUE(dependents.empty());

  ServiceHandle stopper(port);
  ASSERT_EQ(port.OpenNamedService(manager.Get(), "Spooler", svc::kAccessStop, stopper.Put()),
            err::kSuccess);
  ServiceConfig kept;
  kept.startType = 77;
  EXPECT_EQ(port.QueryConfig(stopper.Get(), &kept), err::kAccessDenied);
  EXPECT_EQ(kept.startType, 77u);
  std::string keptText = "kept";
  EXPECT_EQ(port.Description(stopper.Get(), &keptText), err::kAccessDenied);
  EXPECT_EQ(keptText, "kept");
  // Wine answers EnumDependentServices whatever the access; Windows wants
  // SERVICE_ENUMERATE_DEPENDENTS, which the look access has.
}

}  // namespace
}  // namespace kestrava
