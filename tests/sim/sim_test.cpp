#include <gtest/gtest.h>
#include "tests/sim/random_volume.h"
#include "tests/sim/volume_file.h"
TEST(Sim, Builds) { EXPECT_TRUE(kestrava::sim::MakeRandomVolume(1, {}).Check().Ok()); }
