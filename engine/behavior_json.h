// The JSON that `vantrel-cli json` writes for a process and its behaviours, shared by the command
// and the window's export. Texts are stored as code page 936 bytes; the caller says how they
// become UTF-8, which differs by platform.
#pragma once

#include <string>
#include <string_view>

#include "engine/behavior_csv.h"
#include "engine/process_record.h"

// Appends `text` (UTF-8) as a JSON string: quoted, with quotes, backslashes and control characters
// escaped.
void AppendJsonString(std::string_view text, std::string& out);

class ProcessJson {
  public:
    explicit ProcessJson(BehaviorCsv::AppendUtf8 appendUtf8) : appendUtf8_(appendUtf8) {}

    // `{"id":N,...,"handling":S,"behaviors":[` and nothing after: the behaviours follow.
    void AppendOpening(const ProcessFields& process, std::string& out);
    // One behaviour object, after a comma unless it is the first of its process.
    void AppendBehavior(const BehaviorRecord& behavior, bool first, std::string& out);
    // A string of stored code page 936 bytes.
    void AppendGbkString(std::string_view bytes, std::string& out);

  private:
    BehaviorCsv::AppendUtf8 appendUtf8_;
    std::string scratch_;
};
