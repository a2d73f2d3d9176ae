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

// One behaviour as the store keeps it: 16 bytes and views into the store's text arena. Millions of
// them make up most of a big log's store, so the texts are not copied per behaviour where they
// repeat: the action label and the handling text are shared, and `detail` is `info` unless the two
// differ. In the arena each text follows its length, a variable-length number (one byte for texts
// under 128 bytes): time, info, then the detail's (0 when it is the info, else its length + 1).
// Valid until the store is cleared; copies are cheap and sort like values.
class BehaviorRecord {
  public:
    BehaviorRecord() = default;

    std::string_view time() const {
        const char* at = texts_;
        return at == nullptr ? std::string_view() : NextText(at);
    }
    std::string_view action() const { return labels_ ? labels_->action : std::string_view(); }
    std::string_view info() const {
        const char* at = texts_;
        if (at == nullptr) {
            return {};
        }
        NextText(at);
        return NextText(at);
    }
    std::string_view detail() const {
        const char* at = texts_;
        if (at == nullptr) {
            return {};
        }
        NextText(at);
        const std::string_view info = NextText(at);
        uint32_t code;
        at = ReadLength(at, code);
        return code == 0 ? info : std::string_view(at, code - 1);
    }
    std::string_view handling() const { return labels_ ? labels_->handling : std::string_view(); }

    // What tells this behaviour from every other one of the store, whatever the order of its
    // sequence: where its texts are. Equal for copies of one record only (null for an empty one).
    const void* Identity() const { return texts_; }

    // The action label and handling text, shared by every behaviour that has both.
    struct Labels {
        std::string_view action;
        std::string_view handling;
    };

    // How many bytes a length takes in the arena.
    static std::size_t LengthSize(uint32_t value) {
        std::size_t size = 1;
        while (value >= 0x80) {
            value >>= 7;
            ++size;
        }
        return size;
    }
    // Writes a length at `out`; returns where its text goes.
    static char* WriteLength(char* out, uint32_t value) {
        while (value >= 0x80) {
            *out++ = static_cast<char>(value | 0x80);
            value >>= 7;
        }
        *out++ = static_cast<char>(value);
        return out;
    }

  private:
    friend class ProcessStore;

    static const char* ReadLength(const char* at, uint32_t& value) {
        const auto* p = reinterpret_cast<const unsigned char*>(at);
        uint32_t byte = *p++;
        value = byte & 0x7F;
        for (unsigned shift = 7; byte >= 0x80; shift += 7) {
            byte = *p++;
            value |= (byte & 0x7F) << shift;
        }
        return reinterpret_cast<const char*>(p);
    }
    // The text at `at`, which then points past it.
    static std::string_view NextText(const char*& at) {
        uint32_t length;
        at = ReadLength(at, length);
        const std::string_view text(at, length);
        at += length;
        return text;
    }

    const char* texts_ = nullptr;  // each text after its length: time, info, detail
    const Labels* labels_ = nullptr;
};

// What a [PRO] line says of a process, apart from where it sits in the tree.
struct ProcessFields {
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
};

// The file and signature attributes of a process, the one list of them: in the order the CLI writes
// them, each with its name (the CLI's key), the field that holds it and its place among the
// attributes a [PRO] line carries.
struct ProcessAttribute {
    const char* name;
    std::string ProcessFields::*field;
    std::size_t linePosition;
};
inline constexpr std::size_t kProcessAttributeCount = 14;
inline constexpr ProcessAttribute kProcessAttributes[kProcessAttributeCount] = {
    {"md5", &ProcessFields::md5, 2},
    {"fileSize", &ProcessFields::fileSize, 0},
    {"fileTimestamp", &ProcessFields::fileTimestamp, 1},
    {"featureCode", &ProcessFields::featureCode, 3},
    {"signSerial1", &ProcessFields::signSerial1, 4},
    {"signCompany1", &ProcessFields::signCompany1, 5},
    {"signSerial2", &ProcessFields::signSerial2, 6},
    {"signCompany2", &ProcessFields::signCompany2, 7},
    {"sign1CheckA", &ProcessFields::sign1CheckA, 8},
    {"sign1CheckB", &ProcessFields::sign1CheckB, 9},
    {"peSign1Check", &ProcessFields::peSign1Check, 10},
    {"sign2CheckA", &ProcessFields::sign2CheckA, 11},
    {"sign2CheckB", &ProcessFields::sign2CheckB, 12},
    {"peSign2Check", &ProcessFields::peSign2Check, 13},
};

struct ProcessRecord : ProcessFields {
    ProcessRecord* parent = nullptr;       // null for a root
    std::vector<ProcessRecord*> children;  // in the order their [PRO] lines arrived
    // Oldest first, unless the window sorted them; growing never moves the stored elements.
    SegmentedArray<BehaviorRecord> behaviors;
    int32_t shownDescendants = 0;  // the main window's; the engine never reads it
};

// References to records; valid until the store is cleared.
using ProcessList = std::vector<ProcessRecord*>;
