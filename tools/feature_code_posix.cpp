// Reads the start of a file with ordinary calls: nothing is mapped, so a file that shrinks while it
// is read gives fewer bytes, not a fault.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/feature_code.h"

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

FeatureCodeResult Unreadable(std::string reason) {
    FeatureCodeResult result;
    result.error = FeatureCodeError::kUnreadable;
    result.systemError = std::move(reason);
    return result;
}

}  // namespace

FeatureCodeResult InspectFeatureCode(const std::string& path) {
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return Unreadable(std::strerror(errno));
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0) {
        return Unreadable(std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        return Unreadable("is a directory");
    }
    // Read to the limit or the end, whichever comes first: pipes report no size at all.
    std::vector<unsigned char> head(kFeatureCodeExaminedBytes);
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = read(file.get(), head.data() + got, head.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Unreadable(std::strerror(errno));
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    const std::uint64_t fileSize = std::max<std::uint64_t>(
        got, status.st_size > 0 ? static_cast<std::uint64_t>(status.st_size) : 0);
    return FeatureCodeOfBytes(head.data(), got, fileSize);
}
