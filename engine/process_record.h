// The store's records: one ProcessRecord per process the log names, with what it did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Fixed size of the buffers that hold paths and names (at most 259 bytes and a NUL).
inline constexpr std::size_t kPathBufferSize = 260;

struct BehaviorRecord {
    std::string time;
    std::string action;
    std::string info;      // shown in the list
    std::string detail;    // full text, copied to the clipboard on request
    std::string handling;  // last field of the line
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
    ProcessRecord* parent = nullptr;        // null for a root
    std::vector<ProcessRecord*> children;   // in the order their [PRO] lines arrived
    std::vector<BehaviorRecord> behaviors;  // oldest first, unless the window sorted them
    int32_t shownDescendants = 0;           // the main window's; the engine never reads it
};

// References to records; valid until the store is cleared.
using ProcessList = std::vector<ProcessRecord*>;
