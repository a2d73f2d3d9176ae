// The JSON that vantrel-cli writes: UTF-8 collected and handed to standard output in large writes,
// texts of the store decoded from code page 936 and escaped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/console.h"
#include "cli/output.h"
#include "engine/behavior_json.h"

// Collects UTF-8 output and hands it to stdout in large writes.
class JsonWriter {
  public:
    ~JsonWriter() { Flush(); }

    void Raw(std::string_view text) {
        out_.append(text);
        MaybeFlush();
    }
    void Number(uint32_t value) { Raw(std::to_string(value)); }
    // A string of stored code page 936 bytes.
    void GbkString(std::string_view bytes) {
        scratch_.clear();
        AppendGbkAsUtf8(bytes, scratch_);
        Utf8String(scratch_);
    }
    void Utf8String(std::string_view text) {
        AppendJsonString(text, out_);
        MaybeFlush();
    }
    void Key(std::string_view key) {
        out_.push_back('"');
        out_.append(key);
        out_.append("\":");
    }
    void Flush() {
        WriteOutput(out_);
        out_.clear();
    }

  private:
    void MaybeFlush() {
        if (out_.size() >= (1u << 20)) {
            Flush();
        }
    }
    std::string out_;
    std::string scratch_;
};

// The texts of a process with their keys, in the order `json` writes them (and `follow` too).
template <typename Visit>
void ForEachProcessText(const ProcessRecord& p, Visit&& visit) {
    visit("name", std::string_view(p.name));
    visit("imagePath", std::string_view(p.imagePath));
    visit("commandLine", std::string_view(p.commandLine));
    for (const ProcessAttribute& attribute : kProcessAttributes) {
        visit(attribute.name, std::string_view(p.*attribute.field));
    }
    visit("startTime", std::string_view(p.startTime));
    visit("handling", std::string_view(p.handling));
}
