#include <gtest/gtest.h>

#include <string>

#include "common/texts.h"

namespace kestrava {
namespace {

TEST(Texts, RegistryPartsJoinWithOneBackslash) {
  const std::string path = std::string(SRegRootKey) + SRegProductKey;
  EXPECT_EQ(path, "Software\\Kestrava\\Tarnwell Kestrava FREE");
}

TEST(Texts, StatusPrefixesEndInTheirColon) {
  EXPECT_EQ(std::string(STryToStop) + " " + "Print Spooler", "Try to stop: Print Spooler");
  EXPECT_EQ(std::string(STryToStart).back(), ':');
  EXPECT_EQ(std::string(STryToStop), "Try to stop:");
  EXPECT_EQ(std::string(STryToStart), "Try to start:");
}

}  // namespace
}  // namespace kestrava
