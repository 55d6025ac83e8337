// Test main of the cross-built test programs: the socket library is started for the whole run, as
// a host process would have it.
#include <gtest/gtest.h>

#include "platform/system.h"

int main(int argc, char** argv) {
    const bool started = norvane::platform::StartSockets();
    testing::InitGoogleTest(&argc, argv);
    const int result = started ? RUN_ALL_TESTS() : 1;
    norvane::platform::CleanupSockets();
    return result;
}
