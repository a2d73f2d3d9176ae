#include "engine/behavior_csv.h"

void BehaviorCsv::AppendHeader(std::string& out) {
    // Written as UTF-8 escapes: narrow literals are compiled to code page 936.
    out.append(
        "\xEF\xBB\xBF"
        "\xE8\xBF\x9B\xE7\xA8\x8B,PID,PPID,\xE7\xBC\x96\xE5\x8F\xB7,\xE6\x97\xB6\xE9\x97\xB4,"
        "\xE8\xA1\x8C\xE4\xB8\xBA,\xE5\xA4\x84\xE7\x90\x86,\xE4\xBF\xA1\xE6\x81\xAF,"
        "\xE8\xAF\xA6\xE7\xBB\x86\xE4\xBF\xA1\xE6\x81\xAF\r\n");
}

void BehaviorCsv::AppendCell(std::string_view text, std::string& out) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (const char c : text) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

void BehaviorCsv::AppendTextCell(std::string_view bytes, std::string& out) {
    scratch_.clear();
    appendUtf8_(bytes, scratch_);
    AppendCell(scratch_, out);
}

void BehaviorCsv::AppendRow(const ProcessFields& process, const BehaviorRecord& behavior,
                            std::string& out) {
    AppendTextCell(process.name, out);
    for (const uint32_t number : {process.pid, process.ppid, process.id}) {
        out.push_back(',');
        out.append(std::to_string(number));
    }
    for (const std::string_view text : {behavior.time(), behavior.action(), behavior.handling(),
                                        behavior.info(), behavior.detail()}) {
        out.push_back(',');
        AppendTextCell(text, out);
    }
    out.append("\r\n");
}
