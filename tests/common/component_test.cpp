#include <gtest/gtest.h>
#include "common/component.h"
TEST(Placeholder, Builds) { wct::TComponent c; EXPECT_FALSE(c.Loading()); }
