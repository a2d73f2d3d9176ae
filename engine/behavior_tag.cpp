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

namespace {

// For each first letter, the tags that begin with it; built once from the table.
struct TagsByLetter {
    static constexpr std::size_t kMostPerLetter = 8;
    struct Letter {
        std::size_t count = 0;
        const BehaviorTag* tags[kMostPerLetter] = {};
    };
    Letter letters[26];

    TagsByLetter() {
        for (const BehaviorTag& tag : kTags) {
            Letter& letter = letters[AsciiLower(tag.tag[1]) - 'a'];
            letter.tags[letter.count++] = &tag;
        }
    }
};

}  // namespace

const BehaviorTag* MatchBehaviorTag(std::string_view line) {
    // Every tag begins with '['; most lines of a real log are rejected or accepted by one compare.
    if (line.size() < 2 || line[0] != '[') {
        return nullptr;
    }
    const char first = AsciiLower(line[1]);
    if (first < 'a' || first > 'z') {
        return nullptr;
    }
    // Each tag ends with its only ']', so a line begins with a tag exactly when the text up to its
    // first ']' is that tag: only tags of that length and first letter need a look.
    static const TagsByLetter byLetter;
    constexpr std::size_t kLongestTag = 12;
    const std::size_t close = line.substr(0, kLongestTag).find(']');
    if (close == std::string_view::npos) {
        return nullptr;
    }
    const std::string_view head = line.substr(0, close + 1);
    const TagsByLetter::Letter& letter = byLetter.letters[first - 'a'];
    for (std::size_t i = 0; i < letter.count; ++i) {
        if (EqualsNoCaseAscii(head, letter.tags[i]->tag)) {
            return letter.tags[i];
        }
    }
    return nullptr;
}
