// An export of the store written on a thread of its own, so that the window stays responsive on a
// log of hundreds of megabytes. The file is written under a temporary name in the target's folder
// and renamed over the target only once it is complete: a failure (a full disk, no permission) or
// a cancel leaves no half file under the chosen name, and an earlier file of that name intact.
#pragma once

#include "engine/store_export.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Posted to the window while an export runs: wParam is the permille written.
inline constexpr UINT WM_EXPORT_PROGRESS = WM_APP + 210;
// Posted once the export's thread has finished; wParam is the job's number (ExportJob::Number).
inline constexpr UINT WM_EXPORT_DONE = WM_APP + 211;

class ExportJob {
  public:
    // Called by the thread between two pieces with the job's cancel flag; tests hold an export
    // there. Must return soon once the flag is set.
    using Pause = std::function<void(const std::atomic<bool>& cancel)>;

    struct Request {
        ReadStore readStore;
        ExportScope scope;
        ExportFormat format = ExportFormat::Csv;
        std::string logPathUtf8;
        std::wstring target;
    };

    struct Result {
        ExportOutcome outcome = ExportOutcome::Cancelled;
        // What failed, for WriteFailed: the system's error code.
        DWORD error = 0;
        std::wstring target;
    };

    ExportJob() = default;
    ~ExportJob() { Cancel(); }
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // True from Start until Finish or Cancel.
    bool Running() const { return thread_.joinable(); }
    // Starts writing; false (and nothing started) while another export runs. Progress and the end
    // are posted to `notify`.
    bool Start(HWND notify, Request request, Pause pause = {});
    // The number of the running (or last) job, as WM_EXPORT_DONE carries it.
    WPARAM Number() const { return number_; }
    // After WM_EXPORT_DONE: waits for the thread (it has ended or is about to) and says how the
    // export went.
    Result Finish();
    // Stops a running export and waits for its thread; its temporary file is deleted. False when
    // none was running.
    bool Cancel();

  private:
    void Run(HWND notify, Pause pause);

    Request request_;
    Result result_;
    std::atomic<bool> cancel_{false};
    WPARAM number_ = 0;
    std::thread thread_;
};
