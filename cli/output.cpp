#include "cli/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

// The reason of the first failed write, 0 for none yet. Standard output is one per process, and
// so is what became of it.
int& FirstWriteError() {
    static int error = 0;
    return error;
}

void NoteFailure(int error) {
    if (FirstWriteError() == 0) {
        FirstWriteError() = error != 0 ? error : EIO;
    }
}

}  // namespace

bool WriteOutput(std::string_view bytes) {
    if (OutputFailed()) {
        return false;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
        NoteFailure(errno);
        return false;
    }
    return true;
}

bool OutputFailed() {
    return FirstWriteError() != 0 || std::ferror(stdout) != 0;
}

int FinishOutput(int exitCode) {
    // What the C library still holds is written only now; a close can fail too (a full disk
    // found at the last moment).
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        NoteFailure(errno);
    }
    errno = 0;
    if (std::fclose(stdout) != 0) {
        NoteFailure(errno);
    }
    if (FirstWriteError() == 0) {
        return exitCode;
    }
    PrintError(std::string("cannot write the output: ") + std::strerror(FirstWriteError()));
    return kExitFailure;
}
