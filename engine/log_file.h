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

class LogFileSource {
  public:
    virtual ~LogFileSource() = default;
    // Opens `path` (code page 936 on Windows) for reading without locking out its writer; null when
    // it cannot be opened.
    virtual std::unique_ptr<LogFileReader> Open(const std::string& path) = 0;
};

std::shared_ptr<LogFileSource> MakePlatformLogFileSource();
