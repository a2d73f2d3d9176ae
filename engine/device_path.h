// Rewrites kernel device paths (\Device\HarddiskVolume2\x, \??\C:\x) into drive-letter form.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The two platform queries the conversion needs, so that it can run against a fixed table.
class DriveDeviceSource {
  public:
    virtual ~DriveDeviceSource() = default;
    // Fills `buffer` with the drive roots ("C:\", "D:\", ...), each NUL-ended, the list ended by an
    // empty string. False when the list cannot be read.
    virtual bool ListDrives(char* buffer, std::size_t size) = 0;
    // Writes the device target of `driveName` ("C:") as one or more NUL-ended strings. False when
    // the drive has none.
    virtual bool QueryDevice(const char* driveName, char* target, std::size_t size) = 0;
};

// A fixed drive table: the tests' and, off Windows, the platform's (empty, but readable).
class DriveTable final : public DriveDeviceSource {
  public:
    DriveTable() = default;
    DriveTable(std::initializer_list<std::pair<std::string, std::string>> drives)
        : drives_(drives) {}

    // "C:" with its target, in list order.
    void Add(std::string drive, std::string target);
    void SetListFails(bool fails) { listFails_ = fails; }
    void SetQueryFails(std::string drive) { failingDrive_ = std::move(drive); }

    bool ListDrives(char* buffer, std::size_t size) override;
    bool QueryDevice(const char* driveName, char* target, std::size_t size) override;

  private:
    std::vector<std::pair<std::string, std::string>> drives_;
    bool listFails_ = false;
    std::string failingDrive_;
};

// The live drive table on Windows; elsewhere an empty table that reads successfully.
std::shared_ptr<DriveDeviceSource> MakePlatformDriveSource();

// Replaces a drive's device name at the start of `path` by the drive name ("C:") and then drops a
// leading "\??\". Returns 1 when a device name was replaced, otherwise 0.
int ConvertDevicePath(std::string& path, DriveDeviceSource& drives);
