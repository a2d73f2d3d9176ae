#include "engine/device_path.h"

#include <cstring>

#include "engine/text.h"

namespace {

constexpr std::size_t kDriveListSize = 512;
constexpr std::size_t kDriveNameSize = 4;
constexpr std::size_t kTargetSize = 260;

// Copies `text` with its NUL into `buffer` at `pos`; false when it does not fit.
bool PutString(char* buffer, std::size_t size, std::size_t& pos, const std::string& text) {
    if (pos + text.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer + pos, text.data(), text.size());
    buffer[pos + text.size()] = '\0';
    pos += text.size() + 1;
    return true;
}

}  // namespace

void DriveTable::Add(std::string drive, std::string target) {
    drives_.emplace_back(std::move(drive), std::move(target));
}

bool DriveTable::ListDrives(char* buffer, std::size_t size) {
    if (listFails_ || size == 0) {
        return false;
    }
    std::memset(buffer, 0, size);
    std::size_t pos = 0;
    for (const auto& [drive, target] : drives_) {
        // Leave room for the empty string that ends the list.
        if (pos + drive.size() + 2 + 1 > size) {
            return false;
        }
        PutString(buffer, size, pos, drive + "\\");
    }
    return true;
}

bool DriveTable::QueryDevice(const char* driveName, char* target, std::size_t size) {
    if (!failingDrive_.empty() && EqualsNoCaseAscii(driveName, failingDrive_)) {
        return false;
    }
    for (const auto& [drive, device] : drives_) {
        if (EqualsNoCaseAscii(drive, driveName)) {
            std::size_t pos = 0;
            return size > 0 && PutString(target, size, pos, device);
        }
    }
    return false;
}

int ConvertDevicePath(std::string& path, DriveDeviceSource& drives) {
    char list[kDriveListSize] = {};
    if (!drives.ListDrives(list, sizeof(list) - 1)) {
        return 0;
    }
    int result = 0;
    for (const char* root = list; root < list + sizeof(list) && *root != '\0';
         root += std::strlen(root) + 1) {
        char driveName[kDriveNameSize] = {};
        driveName[0] = root[0];
        driveName[1] = root[1];
        char target[kTargetSize] = {};
        if (!drives.QueryDevice(driveName, target, sizeof(target) - 1)) {
            break;
        }
        const std::size_t n = std::strlen(target);
        // The device name must be a whole path element: \Device\HarddiskVolume1 is no prefix of
        // \Device\HarddiskVolume10\x. An empty target names nothing.
        if (n == 0 || path.size() < n ||
            !EqualsNoCaseAscii(std::string_view(path).substr(0, n), std::string_view(target, n))) {
            continue;
        }
        if (path.size() > n && path[n] != '\\') {
            continue;
        }
        path.replace(0, n, driveName, std::strlen(driveName));
        result = 1;
        break;
    }
    if (path.compare(0, 4, "\\??\\") == 0) {
        path.erase(0, 4);
    }
    return result;
}
