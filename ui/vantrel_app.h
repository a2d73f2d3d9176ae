// The program: prepares the common controls and runs the main window modally; there is no message
// loop outside the window's own.
#pragma once

class CVantrelApp {
  public:
    // Returns when the main window has ended and everything it owns is gone.
    int Run();

  private:
    void InitInstance();
};
