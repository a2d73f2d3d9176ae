#include "cli/log_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/log_analyzer.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ParseWholeLog(const std::string& path, LogAnalyzer& analyzer, std::string& error) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
        error = "is a directory";
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    std::vector<char> chunk(1 << 16);
    std::string pending;
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (got == 0) {
            if (std::ferror(file.get())) {
                error = std::strerror(errno);
                return false;
            }
            break;
        }
        pending.append(chunk.data(), got);
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            analyzer.ParseLine(std::string_view(pending).substr(start, end - start));
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) {
        analyzer.ParseLine(pending);
    }
    return true;
}
