#include "ui/export_job.h"

#include "win/handles.h"
#include "win/utf8.h"

#include <vector>

namespace {

// The folder of `path`, where the temporary file goes so that the rename stays on one volume.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return L".";
    }
    // "C:\x" keeps its root's backslash.
    return path.substr(0, slash == 2 && path[1] == L':' ? slash + 1 : slash);
}

}  // namespace

bool ExportJob::Start(HWND notify, Request request, Pause pause) {
    if (Running()) {
        return false;
    }
    request_ = std::move(request);
    result_ = Result{};
    result_.target = request_.target;
    cancel_ = false;
    ++number_;
    thread_ = std::thread([this, notify, pause = std::move(pause)] { Run(notify, pause); });
    return true;
}

ExportJob::Result ExportJob::Finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return result_;
}

bool ExportJob::Cancel() {
    if (!thread_.joinable()) {
        return false;
    }
    cancel_ = true;
    thread_.join();
    return true;
}

void ExportJob::Run(HWND notify, Pause pause) {
    const auto done = [&] { ::PostMessageW(notify, WM_EXPORT_DONE, number_, 0); };
    wchar_t temporary[MAX_PATH + 1] = {};
    if (::GetTempFileNameW(FolderOf(request_.target).c_str(), L"vex", 0, temporary) == 0) {
        result_.outcome = ExportOutcome::WriteFailed;
        result_.error = ::GetLastError();
        done();
        return;
    }
    DWORD error = 0;
    ExportOutcome outcome = ExportOutcome::WriteFailed;
    {
        win::FileHandle file(::CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = ::GetLastError();
        } else {
            ExportOutput output;
            output.cancel = &cancel_;
            output.write = [&](std::string_view bytes) {
                while (!bytes.empty()) {
                    DWORD written = 0;
                    const DWORD size =
                        static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
                    if (!::WriteFile(file.Get(), bytes.data(), size, &written, nullptr) ||
                        written == 0) {
                        error = ::GetLastError();
                        return false;
                    }
                    bytes.remove_prefix(written);
                }
                return true;
            };
            int permille = -1;
            output.progress = [&](uint64_t doneCount, uint64_t total) {
                const int now = total == 0 ? 1000 : static_cast<int>(doneCount * 1000 / total);
                if (now != permille) {
                    permille = now;
                    ::PostMessageW(notify, WM_EXPORT_PROGRESS, static_cast<WPARAM>(now), 0);
                }
                if (pause) {
                    pause(cancel_);
                }
            };
            if (pause) {
                pause(cancel_);
            }
            outcome = cancel_.load()
                          ? ExportOutcome::Cancelled
                          : ExportStore(request_.readStore, request_.scope, request_.format,
                                        request_.logPathUtf8, win::AppendGbkAsUtf8, output);
            // What the system still holds is written now: a full disk may show only here.
            if (outcome == ExportOutcome::Written && !::FlushFileBuffers(file.Get())) {
                error = ::GetLastError();
                outcome = ExportOutcome::WriteFailed;
            }
        }
    }
    if (outcome == ExportOutcome::Written && cancel_.load()) {
        outcome = ExportOutcome::Cancelled;
    }
    if (outcome == ExportOutcome::Written &&
        !::MoveFileExW(temporary, request_.target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
        outcome = ExportOutcome::WriteFailed;
    }
    if (outcome != ExportOutcome::Written) {
        ::DeleteFileW(temporary);
    }
    result_.outcome = outcome;
    result_.error = error;
    done();
}
