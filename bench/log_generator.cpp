#include "bench/log_generator.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

// Path pieces, in code page 936 like the logs (narrow literals are compiled to GBK).
constexpr std::array<std::string_view, 24> kWords = {
    "Windows", "System32", "Program Files", "用户",     "分析员",     "AppData",
    "Local",   "Temp",     "软件",          "更新服务", "Microsoft",  "驱动程序",
    "配置",    "缓存",     "Roaming",       "数据",     "安装程序",   "网络",
    "日志",    "svchost",  "Common Files",  "插件",     "临时文件夹", "备份"};
constexpr std::array<std::string_view, 8> kExtensions = {".exe", ".dll", ".sys", ".dat",
                                                         ".log", ".ini", ".tmp", ".txt"};
constexpr std::array<std::string_view, 6> kHandling = {"system", "system", "report",
                                                       "",       "阻止",   "隔离"};
constexpr std::array<std::string_view, 4> kCompanies = {
    "Microsoft Windows", "某某网络科技有限公司", "Example Code Signing CA", "深圳某某软件有限公司"};

constexpr uint32_t kCommonModules = 400;

struct TagWeight {
    std::string_view tag;
    uint32_t weight;
};
// The mix of a real sandbox run: files and registry most, then modules, network, opens.
constexpr std::array<TagWeight, 16> kOrdinary = {{{"[FILE_READ]", 200},
                                                  {"[FILE_WRITE]", 90},
                                                  {"[FILE_NEW]", 40},
                                                  {"[FILE_DEL]", 15},
                                                  {"[REG_OPEN]", 150},
                                                  {"[REG_READ]", 120},
                                                  {"[REG_WRITE]", 40},
                                                  {"[REG_NEW]", 15},
                                                  {"[MOD]", 80},
                                                  {"[NET_CON]", 15},
                                                  {"[NET_DATA]", 20},
                                                  {"[NET_DNS]", 10},
                                                  {"[NET_URL]", 8},
                                                  {"[NET_HTTP]", 5},
                                                  {"[PRO_OPEN]", 25},
                                                  {"[RTHREAD]", 3}}};

}  // namespace

LogGenerator::LogGenerator(const LogShape& shape)
    : shape_(shape), state_(shape.seed * 0x9E3779B97F4A7C15ull + 1) {
    // About 200 bytes a line on average; [PRO] lines are spread over all of them.
    const uint64_t lines = std::max<uint64_t>(shape.bytes / 210, 1);
    linesPerProcess_ = std::max<uint64_t>(lines / std::max<uint32_t>(shape.processes, 1), 1);
}

bool ParseLogProfile(const char* name, LogProfile& profile) {
    const std::string_view text(name);
    if (text == "common") {
        profile = LogProfile::common;
    } else if (text == "distinct") {
        profile = LogProfile::distinct;
    } else {
        return false;
    }
    return true;
}

uint64_t LogGenerator::Random() {
    // xorshift64*: fast, and the same sequence on every platform.
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
}

void LogGenerator::Time(std::string& out) {
    const uint64_t second = lines_ / 40;
    char text[32];
    std::snprintf(text, sizeof(text), "2024-03-05 %02u:%02u:%02u.%03u",
                  static_cast<unsigned>(9 + second / 3600 % 12),
                  static_cast<unsigned>(second / 60 % 60), static_cast<unsigned>(second % 60),
                  static_cast<unsigned>(lines_ % 1000));
    out += text;
}

void LogGenerator::AppendUnique(std::string& out) {
    // A counter no other line of the log repeats, and a random part, so neither hashing nor
    // shared prefixes make the texts alike.
    char text[48];
    std::snprintf(text, sizeof(text), "\\%s%llu_%08llx", "\xCA\xB5\xC0\xFD",
                  static_cast<unsigned long long>(++unique_),
                  static_cast<unsigned long long>(Random() & 0xFFFFFFFFu));
    out += text;
}

void LogGenerator::AppendPath(std::string& out, int minBytes) {
    const std::size_t start = out.size();
    out += "C:";
    while (static_cast<int>(out.size() - start) < minBytes) {
        out += '\\';
        out += kWords[Below(kWords.size())];
    }
    out += kExtensions[Below(kExtensions.size())];
}

uint32_t LogGenerator::Actor() {
    if (created_ == 0) {
        return 1;
    }
    // Recent processes are the busy ones.
    const uint32_t recent = std::min<uint32_t>(created_, 50);
    return Below(4) != 0 ? created_ - Below(recent) : 1 + Below(created_);
}

void LogGenerator::ProcessLine(std::string& out) {
    const uint32_t id = ++created_;
    const uint32_t creator = id == 1 ? 0 : 1 + Below(id - 1);
    out += "[PRO]|";
    Time(out);
    out += "|0|" + std::to_string(creator) + "|" + std::to_string(id) + "/" +
           std::to_string(1000 + id * 4) + "/";
    const bool device = Below(2) == 0;
    const std::size_t pathAt = out.size();
    AppendPath(out, 20 + static_cast<int>(Below(60)));
    if (device) {
        out.replace(pathAt, 2, "\\Device\\HarddiskVolume2");
    }
    out += "/\"C:\\path\\app.exe\" --run " + std::to_string(Below(100000));
    out += "/" + std::to_string(4096 + Below(1 << 20)) + "/5E8F" + std::to_string(Below(9999)) +
           "/0f6e1ea3c2b1f9d8a7e6d5c4b3a29180";
    const uint32_t layout = Below(3);
    if (layout >= 1) {
        out += "/9F3C0E11AA77/330000015F2E/";
        out += kCompanies[Below(kCompanies.size())];
        out += "/7A9C/";
        out += kCompanies[Below(kCompanies.size())];
    }
    if (layout == 2) {
        out += "/1/1/1/1/0/1";
    }
    out += "|";
    out += kHandling[Below(kHandling.size())];
    out += "\r\n";
}

void LogGenerator::LoadLine(std::string& out, bool module) {
    out += module ? "[MOD]|" : "[SYS]|";
    Time(out);
    out += "|0|" + std::to_string(Actor()) + "|";
    if (module && shape_.profile == LogProfile::distinct && Below(10) != 0) {
        // Files of the machine that wrote the log: hardly one of them twice.
        out += "C:\\Users\\";
        out += kWords[Below(kWords.size())];
        AppendUnique(out);
        out += ".dll";
    } else if (module && Below(10) != 0) {
        // Most modules a process loads are the few hundred every process loads.
        const uint32_t k = Below(kCommonModules);
        if (k < kCommonModules / 2) {
            out += "C:\\Windows\\System32\\";
        } else {
            out += "C:\\Program Files\\";
            out += kWords[k / kWords.size() % kWords.size()];
            out += '\\';
        }
        out += kWords[k % kWords.size()];
        out += std::to_string(k);
        out += ".dll";
    } else {
        AppendPath(out, 20 + static_cast<int>(Below(40)));
    }
    out += "/" + std::to_string(Below(1 << 22)) + "/0";
    switch (Below(3)) {
        case 0:
            out += "/e99a18c428cb38d5f260853678922e03";
            break;
        case 1:
            out += "/3C1E4D2B/6E0F3A9B7C/";
            out += kCompanies[Below(kCompanies.size())];
            out += "/7A9C/";
            out += kCompanies[Below(kCompanies.size())];
            break;
        default:
            out += "/3C1E4D2B/6E0F3A9B7C/";
            out += kCompanies[Below(kCompanies.size())];
            out += "/7A9C/";
            out += kCompanies[Below(kCompanies.size())];
            out += "/1/1/1/0/1/1";
            break;
    }
    out += "|";
    out += kHandling[Below(kHandling.size())];
    out += "\r\n";
}

bool LogGenerator::Next(std::string& out) {
    if (written_ >= shape_.bytes) {
        return false;
    }
    const std::size_t before = out.size();
    ++lines_;
    if (created_ < shape_.processes && (created_ == 0 || lines_ % linesPerProcess_ == 0)) {
        ProcessLine(out);
    } else if (Below(400) == 0 && created_ > 1) {
        out += "[PRO_DIE]|";
        Time(out);
        out += "|0|" + std::to_string(1 + Below(created_)) + "|exit code 0|system\r\n";
    } else if (Below(2000) == 0) {
        LoadLine(out, false);
    } else {
        uint32_t total = 0;
        for (const TagWeight& t : kOrdinary) {
            total += t.weight;
        }
        uint32_t pick = Below(total);
        const TagWeight* tag = &kOrdinary[0];
        for (const TagWeight& t : kOrdinary) {
            if (pick < t.weight) {
                tag = &t;
                break;
            }
            pick -= t.weight;
        }
        if (tag->tag == "[MOD]") {
            LoadLine(out, true);
        } else {
            out += tag->tag;
            out += "|";
            Time(out);
            out += "|0|" + std::to_string(Actor()) + "|";
            // Information texts of 40 to 300 bytes.
            const std::size_t infoAt = out.size();
            AppendPath(out, 40 + static_cast<int>(Below(200)));
            if (shape_.profile == LogProfile::distinct && Below(50) != 0) {
                // Nearly every text differs: a unique part after the drive.
                std::string unique;
                AppendUnique(unique);
                out.insert(infoAt + 2, unique);
            }
            if (Below(3) == 0) {
                out += " -> " + std::string(Below(60), 'v');
            }
            out += "|";
            out += kHandling[Below(kHandling.size())];
            out += "\r\n";
        }
    }
    written_ += out.size() - before;
    return true;
}
