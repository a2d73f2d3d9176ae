// Rewrites kernel device paths (\Device\HarddiskVolume2\x, \??\C:\x) into drive-letter form.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
// leading "\??\". Returns 1 when a device name was replaced, otherwise 0. Reads the drive table
// afresh for this one path.
int ConvertDevicePath(std::string& path, DriveDeviceSource& drives);

// The drive table as it stood when it was read: the drive names in list order with their device
// targets, up to the first drive whose target could not be read (no conversion looks past it).
// Converting with it gives what ConvertDevicePath gives with the table it was read from.
class DriveSnapshot {
  public:
    // One list query and one device query per drive.
    static DriveSnapshot Take(DriveDeviceSource& source);
    int Convert(std::string& path) const;

  private:
    struct Drive {
        char name[4];
        std::string target;
    };
    bool listed_ = false;  // false when the list could not be read: nothing is converted
    std::vector<Drive> drives_;
};

// How long a drive table read for a stream of conversions stays in use.
inline constexpr std::chrono::milliseconds kDriveTableMaxAge{1000};

// The drive table for the parser's conversions. Each query is a system call on Windows and a
// round trip to the Wine server under Wine, and a log has a path on tens of thousands of lines:
// the table is read at the first conversion after Renew() (the start of every pass), and again
// when it is more than kDriveTableMaxAge old, so a drive mapped or removed while a log is followed
// is still seen within a second. Conversions may come from any thread.
class DriveTableCache {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // A null `clock` means the steady clock.
    DriveTableCache(std::shared_ptr<DriveDeviceSource> source, Clock clock);

    // The next conversion reads the table afresh.
    void Renew();
    // ConvertDevicePath with the cached table.
    int Convert(std::string& path);

  private:
    std::shared_ptr<DriveDeviceSource> source_;
    Clock clock_;
    std::mutex mutex_;
    bool current_ = false;  // guarded by mutex_, as are the two below
    std::chrono::steady_clock::time_point takenAt_;
    DriveSnapshot table_;
};
