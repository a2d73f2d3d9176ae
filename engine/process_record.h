// The store's records: one ProcessRecord per process the log names, with what it did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/segmented_array.h"

// Fixed size of the buffers that hold paths and names (at most 259 bytes and a NUL).
inline constexpr std::size_t kPathBufferSize = 260;

// The five texts of one behaviour, as the parser hands them to the store.
struct BehaviorText {
    std::string_view time;
    std::string_view action;
    std::string_view info;      // shown in the list
    std::string_view detail;    // full text, copied to the clipboard on request
    std::string_view handling;  // last field of the line
};

// One behaviour as the store keeps it: 32 bytes and views into the store's text arena. Millions of
// them make up most of a big log's store, so the texts are not copied per behaviour where they
// repeat: the action label and the handling text are shared, and `detail` is `info` unless the two
// differ. Valid until the store is cleared; copies are cheap and sort like values.
class BehaviorRecord {
  public:
    BehaviorRecord() = default;

    std::string_view time() const { return {text_, timeLength_}; }
    std::string_view action() const { return labels_ ? labels_->action : std::string_view(); }
    std::string_view info() const { return {text_ + timeLength_, infoLength_}; }
    std::string_view detail() const {
        return detailLength_ == kSameAsInfo
                   ? info()
                   : std::string_view(text_ + timeLength_ + infoLength_, detailLength_);
    }
    std::string_view handling() const { return labels_ ? labels_->handling : std::string_view(); }

    // The action label and handling text, shared by every behaviour that has both.
    struct Labels {
        std::string_view action;
        std::string_view handling;
    };

  private:
    friend class LogAnalyzer;
    static constexpr uint32_t kSameAsInfo = UINT32_MAX;

    const char* text_ = nullptr;  // time, info, then detail unless it is the same as info
    uint32_t timeLength_ = 0;
    uint32_t infoLength_ = 0;
    uint32_t detailLength_ = 0;
    const Labels* labels_ = nullptr;
};

struct ProcessRecord {
    uint32_t id = 0;     // the log's number for the process: its identity
    uint32_t pid = 0;    // as logged; only shown, never used to find a record
    uint32_t ppid = 0;   // pid of the creator, 0 when the creator was not in the store
    uint32_t state = 0;  // 1 while running, 0 once its end was logged
    char name[kPathBufferSize] = {};
    char imagePath[kPathBufferSize] = {};
    std::string commandLine;
    std::string md5;
    std::string fileSize;
    std::string fileTimestamp;
    std::string featureCode;
    std::string signCompany2;
    std::string signSerial2;
    std::string signCompany1;
    std::string signSerial1;
    std::string peSign2Check;
    std::string sign2CheckB;
    std::string sign2CheckA;
    std::string peSign1Check;
    std::string sign1CheckB;
    std::string sign1CheckA;
    std::string startTime;
    std::string handling;
    ProcessRecord* parent = nullptr;       // null for a root
    std::vector<ProcessRecord*> children;  // in the order their [PRO] lines arrived
    // Oldest first, unless the window sorted them; growing never moves the stored elements.
    SegmentedArray<BehaviorRecord> behaviors;
    int32_t shownDescendants = 0;  // the main window's; the engine never reads it
};

// References to records; valid until the store is cleared.
using ProcessList = std::vector<ProcessRecord*>;
