// A fixture for tests that draw the console through the rasterizer: the device started with
// its caches and an output open at a chosen resolution (openOutput); close() (also at the end
// of the test) frees the console and undoes both. The console itself is laid out by the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "display/console.h"
#include "display/device.h"
#include "tests/environment.h"
#include "vexa/vexa.h"

class ConsoleOutput : public ::testing::Test {
protected:
    void TearDown() override { close(); }
    // Starts the device and opens `resolution` with the font; width and height are its size.
    void openOutput(int resolution) {
        unsetenv("KR_VEXA_NO_FONT");
        ASSERT_TRUE(deviceStart());
        ASSERT_TRUE(vxResolutionSize(resolution, &width, &height));
        output = vxOpenWindow(nullptr, resolution, VX_REFRESH_DEFAULT, VX_COLORFORMAT_ABGR,
                              VX_ORIGIN_UPPER_LEFT, 2, 1);
        ASSERT_NE(output, 0u);
        opened = true;
        ASSERT_TRUE(deviceSetup());
    }
    void close() {
        if (!opened) return;
        consoleFree();
        vxCloseWindow(output);
        deviceStop();
        opened = false;
    }
    int width = 0, height = 0;
    VxContext output = 0;
    bool opened = false;
};
