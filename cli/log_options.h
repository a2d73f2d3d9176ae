// The arguments of the commands that analyse one log: [--drive X:=DEVICE]... LOG, and options of
// the command's own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "engine/device_path.h"

struct LogOptions {
    std::string logPath;
    // Replaces the system's drive table when any --drive is given.
    std::shared_ptr<DriveTable> drives;
};

// Says whether `option` (with its `value`, the next argument) is the command's own and takes it;
// sets `error` for a bad value.
using OwnOptionParser = std::function<bool(std::string_view option, const std::string* value,
                                           bool& usedValue, std::string& error)>;

// Parses `args` of `command`; prints `help` for --help. Returns kExitOk when the command is to
// run, or the exit code to return at once (after printing why).
int ParseLogOptions(const CliArgs& args, std::string_view command, const char* help,
                    LogOptions& options, const OwnOptionParser& own = nullptr,
                    bool* helped = nullptr);
