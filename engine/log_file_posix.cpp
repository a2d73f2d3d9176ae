#include <fcntl.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/log_file.h"

namespace {

class PosixLogFile final : public LogFileReader {
  public:
    explicit PosixLogFile(int fd) : fd_(fd) {}
    ~PosixLogFile() override { ::close(fd_); }
    PosixLogFile(const PosixLogFile&) = delete;
    PosixLogFile& operator=(const PosixLogFile&) = delete;

    bool Size(uint64_t& size) override {
        struct stat status {};
        if (::fstat(fd_, &status) != 0) {
            return false;
        }
        size = static_cast<uint64_t>(status.st_size);
        return true;
    }
    bool Seek(uint64_t offset) override {
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
    }
    std::size_t Read(char* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                return 0;
            }
        }
    }

  private:
    int fd_;
};

class PosixLogFileSource final : public LogFileSource {
  public:
    std::unique_ptr<LogFileReader> Open(const std::string& path) override {
        LogOpenFailure failure;
        return OpenChecked(path, failure);
    }
    std::unique_ptr<LogFileReader> OpenChecked(const std::string& path,
                                               LogOpenFailure& failure) override {
        // Without O_NONBLOCK, opening a FIFO waits for its writer, for ever if there is none.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            failure = LogOpenFailure::CannotOpen;
            return nullptr;
        }
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            failure = LogOpenFailure::NotRegularFile;
            return nullptr;
        }
        failure = LogOpenFailure::None;
        return std::make_unique<PosixLogFile>(fd);
    }
};

}  // namespace

std::shared_ptr<LogFileSource> MakePlatformLogFileSource() {
    return std::make_shared<PosixLogFileSource>();
}
