#include "engine/device_path.h"

#include <cstring>

#include "engine/text.h"

namespace {

constexpr std::size_t kDriveListSize = 512;
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

DriveSnapshot DriveSnapshot::Take(DriveDeviceSource& source) {
    DriveSnapshot snapshot;
    char list[kDriveListSize] = {};
    if (!source.ListDrives(list, sizeof(list) - 1)) {
        return snapshot;
    }
    snapshot.listed_ = true;
    for (const char* root = list; root < list + sizeof(list) && *root != '\0';
         root += std::strlen(root) + 1) {
        Drive drive{};
        drive.name[0] = root[0];
        drive.name[1] = root[1];
        char target[kTargetSize] = {};
        if (!source.QueryDevice(drive.name, target, sizeof(target) - 1)) {
            break;  // a conversion's walk ends here without a match
        }
        drive.target = target;
        snapshot.drives_.push_back(std::move(drive));
    }
    return snapshot;
}

int DriveSnapshot::Convert(std::string& path) const {
    if (!listed_) {
        return 0;
    }
    int result = 0;
    for (const Drive& drive : drives_) {
        const std::size_t n = drive.target.size();
        // The device name must be a whole path element: \Device\HarddiskVolume1 is no prefix of
        // \Device\HarddiskVolume10\x. An empty target names nothing.
        if (n == 0 || path.size() < n ||
            !EqualsNoCaseAscii(std::string_view(path).substr(0, n), drive.target)) {
            continue;
        }
        if (path.size() > n && path[n] != '\\') {
            continue;
        }
        path.replace(0, n, drive.name, std::strlen(drive.name));
        result = 1;
        break;
    }
    if (path.compare(0, 4, "\\??\\") == 0) {
        path.erase(0, 4);
    }
    return result;
}

int ConvertDevicePath(std::string& path, DriveDeviceSource& drives) {
    return DriveSnapshot::Take(drives).Convert(path);
}

DriveTableCache::DriveTableCache(std::shared_ptr<DriveDeviceSource> source, Clock clock)
    : source_(std::move(source)), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return std::chrono::steady_clock::now(); };
    }
}

void DriveTableCache::Renew() {
    std::lock_guard guard(mutex_);
    current_ = false;
}

int DriveTableCache::Convert(std::string& path) {
    std::lock_guard guard(mutex_);
    const auto now = clock_();
    if (!current_ || now - takenAt_ > kDriveTableMaxAge) {
        table_ = DriveSnapshot::Take(*source_);
        takenAt_ = now;
        current_ = true;
    }
    return table_.Convert(path);
}
