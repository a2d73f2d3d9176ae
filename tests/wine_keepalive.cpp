// Started once per Windows test run, with its output sent nowhere: it brings up Wine's desktop and
// services processes for the whole run (so no test waits for them, and none of them inherits a
// test's output pipe) and keeps them alive with one hidden window until the session ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "VantrelWineKeepAlive";
    RegisterClassA(&windowClass);
    CreateWindowA(windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance,
                  nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    return 0;
}
