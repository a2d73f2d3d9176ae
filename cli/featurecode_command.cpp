// vantrel-cli featurecode: the feature code of each executable named, one line per file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/output.h"
#include "tools/feature_code.h"

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

}  // namespace

int RunFeatureCodeCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    std::vector<const std::string*> files;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(
                "usage: vantrel-cli featurecode FILE...\n"
                "Prints for each FILE its feature code, the MD5 of its PE section table in upper\n"
                "case, and its path. A FILE without a code is named on standard error with the\n"
                "reason, and the exit code is then 1.\n",
                stdout);
            return kExitOk;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            PrintError("featurecode: unknown option '" + arg + "'");
            return kExitUsage;
        } else {
            files.push_back(&arg);
        }
    }
    if (files.empty()) {
        PrintError("featurecode: no FILE given (see 'vantrel-cli featurecode --help')");
        return kExitUsage;
    }

    int exitCode = kExitOk;
    for (const std::string* file : files) {
        const FeatureCodeResult result = InspectFeatureCode(*file);
        const std::string shownPath = PathArgumentAsUtf8(*file);
        if (result.error != FeatureCodeError::kNone) {
            std::string message = shownPath + ": " + FeatureCodeErrorText(result.error);
            if (!result.systemError.empty()) {
                message += ": " + result.systemError;
            }
            std::fflush(stdout);
            PrintError(message);
            exitCode = kExitFailure;
            continue;
        }
        std::string line;
        for (const char c : result.code) {
            line.push_back(AsciiUpper(c));
        }
        line += "  " + shownPath + "\n";
        WriteOutput(line);
    }
    return exitCode;
}
