// vantrel-cli signer: who signed each executable named, one line per file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/output.h"
#include "tools/signer.h"

int RunSignerCommand(const CliInput& input) {
    const CliArgs& args = input.args;
    std::vector<const std::string*> files;
    bool optionsEnded = false;
    for (const std::string& arg : args) {
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(
                "usage: vantrel-cli signer FILE...\n"
                "Prints for each FILE the name of the signer of its embedded code signature\n"
                "(UTF-8), a tab and its path. The signature is not verified. A FILE without a\n"
                "signer is named on standard error with the reason; the exit code is then 1.\n",
                stdout);
            return kExitOk;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            PrintError("signer: unknown option '" + arg + "'");
            return kExitUsage;
        } else {
            files.push_back(&arg);
        }
    }
    if (files.empty()) {
        PrintError("signer: no FILE given (see 'vantrel-cli signer --help')");
        return kExitUsage;
    }

    int exitCode = kExitOk;
    for (const std::string* file : files) {
        const SignerResult result = LookUpSigner(*file);
        const std::string shownPath = PathArgumentAsUtf8(*file);
        if (result.status != SignerStatus::kNamed) {
            std::fflush(stdout);
            PrintError(shownPath + ": " + SignerReasonText(result));
            exitCode = kExitFailure;
            continue;
        }
        std::string line;
        AppendGbkAsUtf8(result.name, line);
        line += "\t" + shownPath + "\n";
        WriteOutput(line);
    }
    return exitCode;
}
