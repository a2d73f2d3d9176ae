#include "cli/log_options.h"

#include <cstdio>

#include "cli/log_reader.h"

int ParseLogOptions(const CliArgs& args, std::string_view command, const char* help,
                    LogOptions& options, const OwnOptionParser& own, bool* helped) {
    const std::string name(command);
    bool havePath = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(help, stdout);
            if (helped != nullptr) {
                *helped = true;
            }
            return kExitOk;
        }
        const std::string* next = i + 1 < args.size() ? &args[i + 1] : nullptr;
        std::string_view drive;
        if (arg == "--drive") {
            if (next == nullptr) {
                PrintError(name + ": --drive needs a value such as C:=\\Device\\HarddiskVolume2");
                return kExitUsage;
            }
            drive = *next;
            ++i;
        } else if (arg.rfind("--drive=", 0) == 0) {
            drive = std::string_view(arg).substr(8);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            bool usedValue = false;
            std::string error;
            if (own && own(arg, next, usedValue, error)) {
                if (!error.empty()) {
                    PrintError(name + ": " + error);
                    return kExitUsage;
                }
                i += usedValue ? 1 : 0;
                continue;
            }
            PrintError(name + ": unknown option '" + arg + "'");
            return kExitUsage;
        } else {
            if (arg == "--" && i + 1 < args.size()) {
                ++i;
            }
            if (havePath) {
                PrintError(name + ": only one LOG may be given");
                return kExitUsage;
            }
            options.logPath = args[i];
            havePath = true;
            continue;
        }
        if (!options.drives) {
            options.drives = std::make_shared<DriveTable>();
        }
        if (!ParseDriveOption(drive, *options.drives)) {
            PrintError(name + ": bad --drive '" + std::string(drive) + "' (expected X:=DEVICE)");
            return kExitUsage;
        }
    }
    if (!havePath) {
        PrintError(name + ": no LOG given (see 'vantrel-cli " + name + " --help')");
        return kExitUsage;
    }
    return kExitOk;
}
