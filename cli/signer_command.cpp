// vantrel-cli signer: who signed each executable named, one line per file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/console.h"
#include "cli/output.h"
#include "tools/signer.h"

namespace {

// Why a file has no signer name; the lookup itself only says that it has none.
std::string MissingSignerReason(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
        return "is a directory";
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    // A PE file: "MZ", and "PE\0\0" where the offset at 0x3C points.
    unsigned char dos[64] = {};
    unsigned char pe[4] = {};
    bool isPe =
        std::fread(dos, 1, sizeof(dos), file) == sizeof(dos) && dos[0] == 'M' && dos[1] == 'Z';
    if (isPe) {
        const long offset = static_cast<long>(dos[0x3C] | (dos[0x3D] << 8) | (dos[0x3E] << 16) |
                                              (static_cast<unsigned long>(dos[0x3F]) << 24));
        isPe = offset >= 0 && std::fseek(file, offset, SEEK_SET) == 0 &&
               std::fread(pe, 1, sizeof(pe), file) == sizeof(pe) &&
               std::memcmp(pe, "PE\0\0", sizeof(pe)) == 0;
    }
    std::fclose(file);
    return isPe ? "no embedded signature that carries its signer's certificate" : "not a PE file";
}

}  // namespace

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
        const std::wstring widePath = WidenArgumentPath(*file);
        char name[kSignerNameSize] = {};
        const std::string shownPath = PathArgumentAsUtf8(*file);
        if (GetFileSignerName(widePath.c_str(), name) != 0) {
            std::fflush(stdout);
            PrintError(shownPath + ": " + MissingSignerReason(*file));
            exitCode = kExitFailure;
            continue;
        }
        std::string line;
        AppendGbkAsUtf8(name, line);
        line += "\t" + shownPath + "\n";
        WriteOutput(line);
    }
    return exitCode;
}
