// Reading the log while another program appends to it: read calls, never a mapping, since the
// writer may truncate the file under a mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class LogFileReader {
  public:
    virtual ~LogFileReader() = default;
    // The current size; false when it cannot be read.
    virtual bool Size(uint64_t& size) = 0;
    virtual bool Seek(uint64_t offset) = 0;
    // Bytes read at the current position; 0 at the end or on an error.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// Why a log gives nothing to read.
enum class LogOpenFailure {
    None,
    CannotOpen,      // missing, or locked without read sharing: the next wake tries again
    NotRegularFile,  // a folder, a pipe, a device: reading it could block for ever
};

class LogFileSource {
  public:
    virtual ~LogFileSource() = default;
    // Opens `path` (code page 936 on Windows) for reading without locking out its writer; null when
    // it cannot be opened. Only regular files are opened, and opening never waits for a writer.
    virtual std::unique_ptr<LogFileReader> Open(const std::string& path) = 0;
    // Open, also saying why it gave null.
    virtual std::unique_ptr<LogFileReader> OpenChecked(const std::string& path,
                                                       LogOpenFailure& failure) {
        std::unique_ptr<LogFileReader> file = Open(path);
        failure = file ? LogOpenFailure::None : LogOpenFailure::CannotOpen;
        return file;
    }
};

std::shared_ptr<LogFileSource> MakePlatformLogFileSource();
