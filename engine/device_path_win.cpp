// The live drive table of Windows.
#include <windows.h>

#include "engine/device_path.h"

namespace {

class Win32DriveSource final : public DriveDeviceSource {
  public:
    bool ListDrives(char* buffer, std::size_t size) override {
        const DWORD length = GetLogicalDriveStringsA(static_cast<DWORD>(size), buffer);
        return length != 0 && length < size;
    }
    bool QueryDevice(const char* driveName, char* target, std::size_t size) override {
        return QueryDosDeviceA(driveName, target, static_cast<DWORD>(size)) != 0;
    }
};

}  // namespace

std::shared_ptr<DriveDeviceSource> MakePlatformDriveSource() {
    return std::make_shared<Win32DriveSource>();
}
