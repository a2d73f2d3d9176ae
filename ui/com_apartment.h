// COM on the user-interface thread: the shell functions the window calls (file icons, the folder
// launch) expect a single-threaded apartment on the thread that calls them.
#pragma once

#include <objbase.h>

class ComApartment {
  public:
    ComApartment()
        : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    // S_OK or S_FALSE when the thread has its apartment.
    HRESULT Result() const { return result_; }

  private:
    HRESULT result_;
};
