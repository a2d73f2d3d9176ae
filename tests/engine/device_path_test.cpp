#include "engine/device_path.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* path;
    const char* expected;
    int result;
};

void Check(DriveTable& drives, const Case& c) {
    std::string path = c.path;
    EXPECT_EQ(ConvertDevicePath(path, drives), c.result) << c.path;
    EXPECT_EQ(path, c.expected) << c.path;
}

}  // namespace

TEST(DevicePath, ConvertsDeviceAndObjectManagerForms) {
    DriveTable drives({{"C:", "\\Device\\HarddiskVolume2"}, {"D:", "\\Device\\HarddiskVolume3"}});
    const Case cases[] = {
        {"\\Device\\HarddiskVolume2\\Windows\\notepad.exe", "C:\\Windows\\notepad.exe", 1},
        {"\\DEVICE\\harddiskvolume3\\a.txt", "D:\\a.txt", 1},
        {"\\Device\\HarddiskVolume2", "C:", 1},
        {"\\??\\C:\\Windows\\x.dll", "C:\\Windows\\x.dll", 0},
        {"C:\\Windows\\x.dll", "C:\\Windows\\x.dll", 0},
        {"", "", 0},
        {"\\\\?\\C:\\x", "\\\\?\\C:\\x", 0},
        {"\\Device\\HarddiskVolume", "\\Device\\HarddiskVolume", 0},
        {"x\\??\\C:\\a", "x\\??\\C:\\a", 0},
        // The "\??\" rule runs after the replacement, on what it left.
        {"\\Device\\HarddiskVolume4\\x", "\\Device\\HarddiskVolume4\\x", 0},
    };
    for (const Case& c : cases) {
        Check(drives, c);
    }
}

TEST(DevicePath, DeviceNameMustEndAtAPathSeparator) {
    // Volume1 is a textual prefix of Volume10; the path belongs to D:, not to "C:0\x.txt".
    DriveTable drives({{"C:", "\\Device\\HarddiskVolume1"}, {"D:", "\\Device\\HarddiskVolume10"}});
    Check(drives, {"\\Device\\HarddiskVolume10\\x.txt", "D:\\x.txt", 1});
    Check(drives, {"\\Device\\HarddiskVolume1\\x.txt", "C:\\x.txt", 1});
    Check(drives, {"\\Device\\HarddiskVolume1x", "\\Device\\HarddiskVolume1x", 0});
}

TEST(DevicePath, FirstMatchingDriveInListOrderWins) {
    DriveTable drives;
    drives.Add("E:", "\\Device\\Same");
    drives.Add("C:", "\\Device\\Same");
    Check(drives, {"\\Device\\Same\\f", "E:\\f", 1});
}

TEST(DevicePath, PlatformFailures) {
    DriveTable unreadable({{"C:", "\\Device\\HarddiskVolume2"}});
    unreadable.SetListFails(true);
    Check(unreadable, {"\\??\\C:\\x.txt", "\\??\\C:\\x.txt", 0});
    Check(unreadable, {"\\Device\\HarddiskVolume2\\x", "\\Device\\HarddiskVolume2\\x", 0});

    // A drive without a target ends the walk: later drives are not tried, "\??\" still goes.
    DriveTable firstFails({{"C:", "\\Device\\A"}, {"D:", "\\Device\\HarddiskVolume3"}});
    firstFails.SetQueryFails("C:");
    Check(firstFails, {"\\Device\\HarddiskVolume3\\x", "\\Device\\HarddiskVolume3\\x", 0});
    Check(firstFails, {"\\??\\C:\\x.txt", "C:\\x.txt", 0});

    DriveTable empty;
    Check(empty, {"\\??\\C:\\x.txt", "C:\\x.txt", 0});
}

TEST(DevicePath, EmptyTargetMatchesNothing) {
    DriveTable drives({{"C:", ""}, {"D:", "\\Device\\HarddiskVolume3"}});
    Check(drives, {"\\Device\\HarddiskVolume3\\x", "D:\\x", 1});
}
