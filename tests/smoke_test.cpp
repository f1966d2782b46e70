#include <gtest/gtest.h>

#include "net/packet.h"

TEST(Smoke, Builds) { EXPECT_EQ(CalcChecksum(nullptr, 0), 0x3E); }
