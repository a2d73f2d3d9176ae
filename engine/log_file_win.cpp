#include <windows.h>

#include "engine/log_file.h"

namespace {

class Win32LogFile final : public LogFileReader {
  public:
    explicit Win32LogFile(HANDLE file) : file_(file) {}
    ~Win32LogFile() override { CloseHandle(file_); }
    Win32LogFile(const Win32LogFile&) = delete;
    Win32LogFile& operator=(const Win32LogFile&) = delete;

    bool Size(uint64_t& size) override {
        LARGE_INTEGER value{};
        if (!GetFileSizeEx(file_, &value)) {
            return false;
        }
        size = static_cast<uint64_t>(value.QuadPart);
        return true;
    }
    bool Seek(uint64_t offset) override {
        LARGE_INTEGER distance{};
        distance.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(file_, distance, nullptr, FILE_BEGIN) != 0;
    }
    std::size_t Read(char* buffer, std::size_t size) override {
        DWORD got = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(size), &got, nullptr)) {
            return 0;
        }
        return got;
    }

  private:
    HANDLE file_;
};

class Win32LogFileSource final : public LogFileSource {
  public:
    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        LogOpenFailure failure;
        return OpenChecked(path, failure);
    }
    std::unique_ptr<LogFileReader> OpenChecked(const std::string& path,
                                               LogOpenFailure& failure) override {
        // The monitor keeps the log open for writing: share both ways so neither locks the other.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            // A folder cannot be opened this way; say what it is rather than that it is missing.
            const DWORD attributes = GetFileAttributesA(path.c_str());
            failure = attributes != INVALID_FILE_ATTRIBUTES &&
                              (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                          ? LogOpenFailure::NotRegularFile
                          : LogOpenFailure::CannotOpen;
            return nullptr;
        }
        // A pipe or a device (a console, a port) would block the reader for ever.
        if (GetFileType(file) != FILE_TYPE_DISK) {
            CloseHandle(file);
            failure = LogOpenFailure::NotRegularFile;
            return nullptr;
        }
        failure = LogOpenFailure::None;
        return std::make_unique<Win32LogFile>(file);
    }
};

}  // namespace

std::shared_ptr<LogFileSource> MakePlatformLogFileSource() {
    return std::make_shared<Win32LogFileSource>();
}
