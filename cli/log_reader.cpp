#include "cli/log_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/log_analyzer.h"

bool AnalyseWholeLog(const std::string& path, LogAnalyzer& analyzer, std::string& error) {
    // The analyzer reports nothing by design; say here why a file gives nothing to read.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if ((status.st_mode & S_IFMT) == S_IFDIR) {
        error = "is a directory";
        return false;
    }
    // A FIFO or a device would block the read (the FIFO even the open) for as long as no writer
    // comes.
    if ((status.st_mode & S_IFMT) != S_IFREG) {
        error = "not a regular file";
        return false;
    }
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        error = std::strerror(errno);
        return false;
    }
    analyzer.SetLogPath(path);
    analyzer.SetFileComplete(true);
    // Returns once the pass is over, also when an empty file gave nothing to read.
    analyzer.WaitForWake(analyzer.Wake());
    std::string detail;
    switch (analyzer.Problem(&detail)) {
        case LogAnalyzer::LogProblem::None:
            return true;
        case LogAnalyzer::LogProblem::NotRegularFile:
            error = "not a regular file";
            return false;
        case LogAnalyzer::LogProblem::ReadFailed:
            error = "could not be read further (" + detail + ")";
            return false;
    }
    return true;
}

bool ParseDriveOption(std::string_view spec, DriveTable& table) {
    const std::size_t eq = spec.find('=');
    if (eq != 2 || spec[1] != ':') {
        return false;
    }
    table.Add(std::string(spec.substr(0, 2)), std::string(spec.substr(3)));
    return true;
}
