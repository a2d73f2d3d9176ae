#include "cli/log_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/log_analyzer.h"

bool AnalyseWholeLog(const std::string& path, LogAnalyzer& analyzer, std::string& error) {
    // The analyzer reports nothing by design; say here why a file gives nothing to read. Not
    // stat(): where its sizes are 32 bits (the 32-bit Windows program) it fails on a log over
    // 2 GiB, and only the kind of file is wanted here.
    std::error_code failure;
    const std::filesystem::file_status status = std::filesystem::status(path, failure);
    if (status.type() == std::filesystem::file_type::not_found) {
        error = std::strerror(ENOENT);
        return false;
    }
    if (failure) {
        error = failure.message();
        return false;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        error = "is a directory";
        return false;
    }
    // A FIFO or a device would block the read (the FIFO even the open) for as long as no writer
    // comes.
    if (status.type() != std::filesystem::file_type::regular) {
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
