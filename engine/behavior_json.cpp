#include "engine/behavior_json.h"

#include <cstdio>
#include <utility>

void AppendJsonString(std::string_view text, std::string& out) {
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
                    out.append(escaped);
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

void ProcessJson::AppendGbkString(std::string_view bytes, std::string& out) {
    scratch_.clear();
    appendUtf8_(bytes, scratch_);
    AppendJsonString(scratch_, out);
}

void ProcessJson::AppendOpening(const ProcessFields& p, std::string& out) {
    const std::pair<const char*, uint32_t> numbers[] = {
        {"id", p.id}, {"pid", p.pid}, {"ppid", p.ppid}, {"state", p.state}};
    out.push_back('{');
    bool first = true;
    for (const auto& [key, value] : numbers) {
        out.append(first ? "\"" : ",\"");
        first = false;
        out.append(key);
        out.append("\":");
        out.append(std::to_string(value));
    }
    const std::pair<const char*, std::string_view> texts[] = {
        {"name", p.name},
        {"imagePath", p.imagePath},
        {"commandLine", p.commandLine},
        {"md5", p.md5},
        {"fileSize", p.fileSize},
        {"fileTimestamp", p.fileTimestamp},
        {"featureCode", p.featureCode},
        {"signSerial1", p.signSerial1},
        {"signCompany1", p.signCompany1},
        {"signSerial2", p.signSerial2},
        {"signCompany2", p.signCompany2},
        {"sign1CheckA", p.sign1CheckA},
        {"sign1CheckB", p.sign1CheckB},
        {"peSign1Check", p.peSign1Check},
        {"sign2CheckA", p.sign2CheckA},
        {"sign2CheckB", p.sign2CheckB},
        {"peSign2Check", p.peSign2Check},
        {"startTime", p.startTime},
        {"handling", p.handling},
    };
    for (const auto& [key, value] : texts) {
        out.append(",\"");
        out.append(key);
        out.append("\":");
        AppendGbkString(value, out);
    }
    out.append(",\"behaviors\":[");
}

void ProcessJson::AppendBehavior(const BehaviorRecord& b, bool first, std::string& out) {
    const std::pair<const char*, std::string_view> texts[] = {
        {"{\"time\":", b.time()},     {",\"action\":", b.action()},     {",\"info\":", b.info()},
        {",\"detail\":", b.detail()}, {",\"handling\":", b.handling()},
    };
    if (!first) {
        out.push_back(',');
    }
    for (const auto& [key, value] : texts) {
        out.append(key);
        AppendGbkString(value, out);
    }
    out.push_back('}');
}
