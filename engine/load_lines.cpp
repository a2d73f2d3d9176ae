// [MOD] and [SYS] lines: module and driver loads. Module loads of files signed by "Microsoft
// Windows" are left out, so that what a process brought along stands out from the system's own
// modules.
#include "engine/line_text.h"
#include "engine/log_analyzer.h"
#include "engine/parse_scratch.h"
#include "engine/text.h"

namespace {

constexpr std::string_view kSystemSigner = "Microsoft Windows";

// The information text of a load; `sub` holds `count` sub-fields (4, 9 or 15) and `path` is S0
// converted.
std::string LoadText(std::string_view path, const std::string_view* sub, std::size_t count) {
    std::string text;
    Append(text, "路径：", path, "  ", "大小：", sub[1], "   ");
    if (count == 4) {
        Append(text, "MD5：", sub[3]);
        return text;
    }
    Append(text, "特征码：", sub[4], "   ");
    if (count == 9) {
        Append(text, "签名序列号：", sub[5], "   ", "签名公司名：", sub[6], "   ");
        if (!sub[7].empty() && !sub[8].empty()) {
            Append(text, "签名序列号2：", sub[7], "   ", "签名公司名2：", sub[8], "   ");
        }
        return text;
    }
    if (!sub[5].empty() && !sub[6].empty()) {
        Append(text, "签名序列号：", sub[5], "   ", "签名公司名：", sub[6], "   ");
        if (IsSet(sub[11]) && IsSet(sub[10])) {
            text += "签名通过  ";
        }
        if (IsSet(sub[9])) {
            text += "PE通过  ";
        }
    }
    if (!sub[7].empty() && !sub[8].empty()) {
        Append(text, "签名序列号2：", sub[7], "   ", "签名公司名2：", sub[8], "   ");
        if (IsSet(sub[14]) && IsSet(sub[13])) {
            text += "签名通过  ";
        }
        if (IsSet(sub[12])) {
            text += "PE通过  ";
        }
    }
    return text;
}

}  // namespace

std::size_t SplitLoadField(std::string_view field, std::string_view* sub) {
    // Split no further than the longest layout.
    const std::size_t count = SplitAtMost(field, '/', sub, kMostLoadSubFields);
    return count == 4 || count == 9 || count == kMostLoadSubFields ? count : 0;
}

bool LogAnalyzer::ParseLoadLine(const std::string_view* fields, bool isModule) {
    const uint32_t processId = ParseNumber(fields[3]);
    // Opening and decoding a module file is the dearest step of parsing: not for a line that will
    // be dropped anyway. The process is looked up again, with the append, once that work is done.
    {
        const auto hold = store_.Hold();
        if (FindActor(processId) == nullptr) {
            return false;
        }
    }
    std::string_view sub[kMostLoadSubFields];
    const std::size_t count = SplitLoadField(fields[4], sub);
    if (count == 0) {
        return false;
    }
    std::string path(sub[0]);
    drives_.Convert(path);

    if (isModule) {
        std::string_view signer;
        char name[kSignerNameSize] = {};
        if (LoadLineNamesSigner(count)) {
            // The line names the signer itself; no file is opened.
            signer = sub[6];
        } else {
            // A failed lookup leaves the name empty: a signer other than the system's.
            if (seams_.signer) {
                seams_.signer->GetSystemPathSignerName(path, name);
            }
            signer = name;
        }
        if (EqualsNoCaseMultibyte(signer, kSystemSigner)) {
            return false;
        }
    }

    const std::string text = LoadText(path, sub, count);
    const auto hold = store_.Hold();
    ProcessRecord* process = FindActor(processId);
    if (process == nullptr) {
        return false;
    }
    UseSpareChunk();
    store_.Append(*process,
                  store_.StoreBehavior(BehaviorText{fields[1], isModule ? "加载模块" : "加载驱动",
                                                    text, text, fields[5]}));
    NoteAppended(process);
    NoteArenaNext();
    return true;
}
