#include "engine/behavior_tag.h"

#include "engine/text.h"

namespace {

constexpr BehaviorTag kTags[] = {
    {"[PRO]", "创建进程", TagHandling::ProcessCreate},
    {"[PRO_OPEN]", "打开进程", TagHandling::Ordinary},
    {"[PRO_DIE]", "", TagHandling::ProcessEnd},
    {"[FILE_READ]", "读文件", TagHandling::Ordinary},
    {"[FILE_WRITE]", "写文件", TagHandling::Ordinary},
    {"[FILE_DEL]", "删文件", TagHandling::Ordinary},
    {"[FILE_NEW]", "新建文件", TagHandling::Ordinary},
    {"[REG_OPEN]", "打开注册表", TagHandling::Ordinary},
    {"[REG_NEW]", "新建注册表", TagHandling::Ordinary},
    {"[REG_READ]", "读注册表", TagHandling::Ordinary},
    {"[REG_WRITE]", "写注册表", TagHandling::Ordinary},
    {"[MOD]", "加载模块", TagHandling::ModuleLoad},
    {"[SYS]", "加载驱动", TagHandling::DriverLoad},
    {"[NET_CON]", "网络连接", TagHandling::Ordinary},
    {"[NET_DATA]", "收发数据", TagHandling::Ordinary},
    {"[NET_DNS]", "DNS解析", TagHandling::Ordinary},
    {"[NET_URL]", "HTTP访问", TagHandling::Ordinary},
    {"[NET_HTTP]", "NET_HTTP访问", TagHandling::Ordinary},
    {"[RTHREAD]", "注入线程", TagHandling::Ordinary},
};

}  // namespace

std::span<const BehaviorTag> BehaviorTags() {
    return kTags;
}

const BehaviorTag* MatchBehaviorTag(std::string_view line) {
    // Every tag begins with '['; most lines of a real log are rejected or accepted by one compare.
    if (line.size() < 2 || line[0] != '[') {
        return nullptr;
    }
    // No tag is the start of another (each ends with its only "]"), so at most one matches and
    // only the tags with the line's first letter need a look.
    const char first = AsciiLower(line[1]);
    for (const BehaviorTag& tag : kTags) {
        if (AsciiLower(tag.tag[1]) == first && StartsWithNoCaseAscii(line, tag.tag)) {
            return &tag;
        }
    }
    return nullptr;
}
