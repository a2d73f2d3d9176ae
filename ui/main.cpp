// Vantrel.exe: a viewer for process-behaviour logs.
#include "ui/vantrel_app.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CVantrelApp app;
    return app.Run();
}
