#include "ui/vantrel_app.h"

#include "engine/platform.h"
#include "ui/vantrel_dlg.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

void CVantrelApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF;  // every class of the standard set
    ::InitCommonControlsEx(&controls);
    // Restart support only: a restart after an update starts the viewer again, empty.
    ::RegisterApplicationRestart(nullptr, 0);
    // Reading another user's process files needs these where an administrator runs the viewer;
    // nothing depends on them, so a failure is no error.
    EnablePrivilege("SeDebugPrivilege");
    EnablePrivilege("SeSecurityPrivilege");
}

int CVantrelApp::Run() {
    InitInstance();
    {
        // On the heap: the window holds the whole store.
        auto window = std::make_unique<CVantrelDlg>();
        window->DoModal(nullptr);
    }
    return 0;
}
