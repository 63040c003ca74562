// SPDX-License-Identifier: Apache-2.0
// Test entry point: binds the plain main-thread dispatcher to the test thread.
#include <gtest/gtest.h>

#include "common/main_thread.h"

int main(int argc, char** argv) {
    wct::TPlainMainThread dispatcher;
    wct::SetMainThread(&dispatcher);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    wct::SetMainThread(nullptr);
    return result;
}
