// Off Windows there are no drive letters: an empty table, which reads successfully so that the
// "\??\" prefix is still removed.
#include "engine/device_path.h"

std::shared_ptr<DriveDeviceSource> MakePlatformDriveSource() {
    return std::make_shared<DriveTable>();
}
