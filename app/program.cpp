// The program record's one instance, and the program's run: start-up, the main loop until the
// quit message, and the release of whatever start-up still holds.
#include "app/program.h"

#include "app/frame.h"
#include "app/startup.h"
#include "app/userfiles.h"
#include "display/display.h"
#include "platform/services.h"
#include "platform/win32.h"

Program program{};

int runMainLoop() {
    MSG msg;
    for (;;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            runFrame();
            continue;
        }
        if (msg.message == WM_QUIT) break;
        if (msg.message == WM_CLOSE) shutdownDisplay();
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // A window closed some other way than through the queue's close request still releases
    // the output, the scene, the console and the device.
    shutdownDisplay();
    return static_cast<int>(msg.wParam);
}

int runApplication(int argc, char** argv) {
    int exitCode = 0;
    if (!startProgram(argc, argv, &exitCode)) return exitCode;
    const int result = runMainLoop();
    // The quit message comes only after the window destroyed itself.
    display.output.window = nullptr;
    stopProgram();
    return result == 0 && program.files.exportFailed ? EXIT_EXPORT_FAILED : result;
}
