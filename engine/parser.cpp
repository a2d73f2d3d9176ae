// ParseLine: one log line into changes of the store.
#include <algorithm>
#include <cstring>

#include "engine/behavior_tag.h"
#include "engine/line_text.h"
#include "engine/log_analyzer.h"
#include "engine/parse_scratch.h"
#include "engine/text.h"

namespace {

constexpr std::size_t kMinProcessSubFields = 7;

// The fields of a [PRO] line, as views into the line.
struct ProcessLine {
    std::string_view time;
    std::string_view creatorId;
    std::string_view handling;
    std::string_view id;
    std::string_view pid;
    std::string commandLine;
    std::string imagePath;  // converted to drive-letter form
    // The file and signature attributes, in the order the line carries them (kProcessAttributes'
    // linePosition); those a short layout lacks are empty.
    std::string_view attributes[kProcessAttributeCount];
};

std::string_view NameOf(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

void FillIn(ProcessRecord& record, const ProcessLine& line, const ProcessRecord* creator) {
    record.state = 1;
    record.id = ParseNumber(line.id);
    record.pid = ParseNumber(line.pid);
    record.ppid = creator != nullptr ? creator->pid : 0;
    CopyToBuffer(record.name, sizeof(record.name), NameOf(line.imagePath));
    CopyToBuffer(record.imagePath, sizeof(record.imagePath), line.imagePath);
    record.commandLine = line.commandLine;
    for (const ProcessAttribute& attribute : kProcessAttributes) {
        record.*attribute.field = line.attributes[attribute.linePosition];
    }
    record.startTime = line.time;
    record.handling = line.handling;
}

// The creation behaviour's short text, shown in the list: the line's own texts and the attributes
// as filled into `f`.
std::string ShortCreationText(const ProcessLine& line, const ProcessFields& f) {
    std::string text;
    Append(text, "路径：", line.imagePath, "  ", "PID：", line.pid, "  ", "特征码：", f.featureCode,
           "  ", "MD5：", f.md5, "  ", "大小：", f.fileSize, "  ");
    if (!f.signSerial1.empty() && !f.signCompany1.empty()) {
        Append(text, "签名公司名：", f.signCompany1, "  ");
        if (IsSet(f.sign1CheckA) && IsSet(f.sign1CheckB)) {
            text += "签名通过  ";
        }
        if (IsSet(f.peSign1Check)) {
            text += "PE通过  ";
        }
    }
    if (!f.signSerial2.empty() && !f.signCompany2.empty()) {
        Append(text, "签名公司名2：", f.signCompany2, "  ");
        if (IsSet(f.sign2CheckA) && IsSet(f.sign2CheckB)) {
            text += "签名通过  ";
        }
        if (IsSet(f.peSign2Check)) {
            text += "PE通过  ";
        }
    }
    return text;
}

// The creation behaviour's long text, copied to the clipboard.
std::string LongCreationText(const ProcessLine& line, const ProcessFields& f) {
    std::string text;
    Append(text, "路径：", line.imagePath, "  ", "PID：", line.pid, "  ", "特征码：", f.featureCode,
           "  ", "MD5：", f.md5, "  ", "大小：", f.fileSize, "  ", "时间戳：", f.fileTimestamp,
           "  ");
    if (!f.signSerial1.empty() && !f.signCompany1.empty()) {
        Append(text, "签名序列号：", f.signSerial1, "  ", "签名公司名：", f.signCompany1, "  ");
        if (IsSet(f.sign1CheckA) && IsSet(f.sign1CheckB)) {
            text += "签名1校验通过  ";
        }
        if (IsSet(f.peSign1Check)) {
            text += "PE签名1校验通过  ";
        }
    }
    if (!f.signSerial2.empty() && !f.signCompany2.empty()) {
        Append(text, "签名序列号2：", f.signSerial2, "  ", "签名公司名2：", f.signCompany2, "  ");
        if (IsSet(f.sign2CheckA) && IsSet(f.sign2CheckB)) {
            text += "签名2校验通过  ";
        }
        if (IsSet(f.peSign2Check)) {
            text += "PE签名2校验通过  ";
        }
    }
    Append(text, "命令行：", line.commandLine);
    return text;
}

}  // namespace

void LogAnalyzer::ParseLine(std::string_view line) {
    ParseLineBatched(line);
    FlushBatch();
}

void LogAnalyzer::CountLines(uint64_t parsed, uint64_t dropped) {
    // Counted without the lock: a second hold per line would cost the pass a tenth of its time.
    linesParsed_.fetch_add(parsed, std::memory_order_relaxed);
    linesDropped_.fetch_add(dropped, std::memory_order_relaxed);
}

void LogAnalyzer::PrepareSpareChunk() {
    ParseScratch& scratch = *scratch_;
    if (!scratch.spare && scratch.arenaWantsNext) {
        scratch.spare = scratch.supply ? scratch.supply->Take()
                                       : TextArena::Chunk::Prefaulted(TextArena::kChunk);
    }
}

void LogAnalyzer::UseSpareChunk() {
    if (scratch_->spare && !store_.ArenaHasNext()) {
        store_.SetArenaNext(std::move(scratch_->spare));
        scratch_->spare = TextArena::Chunk::None();
    }
}

void LogAnalyzer::NoteArenaNext() {
    scratch_->arenaWantsNext = store_.ArenaWantsNext();
}

bool LogAnalyzer::ApplySpecialLine(const BehaviorTag& tag, std::string_view line) {
    PrepareSpareChunk();
    if (tag.handling == TagHandling::ProcessCreate) {
        return ParseProcessCreate(line);
    }
    // Every other layout has exactly six fields: splitting stops at the seventh.
    std::string_view fields[kLineFields];
    if (SplitAtMost(line, '|', fields, kLineFields) != kLineFields) {
        return false;
    }
    switch (tag.handling) {
        case TagHandling::ModuleLoad:
        case TagHandling::DriverLoad:
            return ParseLoadLine(fields, tag.handling == TagHandling::ModuleLoad);
        case TagHandling::ProcessEnd: {
            const auto hold = store_.Hold();
            ProcessRecord* process = FindActor(ParseNumber(fields[3]));
            if (process != nullptr) {
                NoteUpdating(process);
                process->state = 0;
            }
            return process != nullptr;
        }
        case TagHandling::ProcessCreate:
        case TagHandling::Ordinary:
            break;
    }
    return false;
}

void LogAnalyzer::ParseLineBatched(std::string_view line) {
    ApplyCutLine(CutLogLine(line));
}

void LogAnalyzer::ApplyCutLine(const CutLine& cut) {
    if (cut.tag == nullptr) {
        CountLines(1, 1);
        return;
    }
    if (cut.tag->handling != TagHandling::Ordinary) {
        // A line that creates or ends a process must see every line before it applied.
        FlushBatch();
        CountLines(1, ApplySpecialLine(*cut.tag, cut.line) ? 0 : 1);
        return;
    }
    std::vector<CutLine>& batch = scratch_->batch;
    batch.push_back(cut);
    if (batch.size() >= kBatchLines) {
        FlushBatch();
    }
}

void LogAnalyzer::FlushBatch() {
    std::vector<CutLine>& batch = scratch_->batch;
    if (batch.empty()) {
        return;
    }
    PrepareSpareChunk();
    uint64_t dropped = 0;
    {
        const auto hold = store_.Hold();
        UseSpareChunk();
        ProcessRecord* last = nullptr;
        for (const CutLine& b : batch) {
            ProcessRecord* process = FindActor(b.actor);
            if (process == nullptr) {
                ++dropped;
                continue;
            }
            store_.Append(*process, store_.StoreBehavior(BehaviorText{b.time, b.tag->label, b.info,
                                                                      b.info, b.handling},
                                                         store_.TagLabels(*b.tag, b.handling)));
            last = process;
        }
        // A provisional line is parsed alone: its batch is that one line.
        if (last != nullptr) {
            NoteAppended(last);
        }
        NoteArenaNext();
        // Lines of a file no longer followed count for neither file.
        if (!IsStalePass()) {
            CountLines(batch.size(), dropped);
        }
    }
    batch.clear();
}

bool LogAnalyzer::ParseProcessCreate(std::string_view line) {
    // Fields 0 to 3, the descriptor and the handling text. The descriptor runs to the last "|",
    // which it may contain: only the last field is the handling text. Nothing is split beyond
    // what the layout uses, so a line of a million separators costs no memory.
    std::string_view head[4];
    std::string_view rest = line;
    for (std::string_view& field : head) {
        const std::size_t bar = rest.find('|');
        if (bar == std::string_view::npos) {
            return false;
        }
        field = rest.substr(0, bar);
        rest.remove_prefix(bar + 1);
    }
    const std::size_t lastBar = rest.rfind('|');
    if (lastBar == std::string_view::npos) {
        return false;
    }
    std::string_view descriptor = rest.substr(0, lastBar);
    const std::string_view handling = rest.substr(lastBar + 1);

    // Sub-fields: S0 to S2 from the front, the attributes from the back (their number depends on
    // the count), and the command line, "/" included, between them.
    const auto m =
        static_cast<std::size_t>(std::count(descriptor.begin(), descriptor.end(), '/')) + 1;
    if (m < kMinProcessSubFields) {
        return false;
    }
    const std::size_t attributeCount = m <= 11 ? 3 : (m <= 17 ? 8 : 14);
    std::string_view front[3];
    for (std::string_view& sub : front) {
        const std::size_t slash = descriptor.find('/');
        sub = descriptor.substr(0, slash);
        descriptor.remove_prefix(slash + 1);
    }
    std::string_view back[kProcessAttributeCount];
    for (std::size_t i = attributeCount; i-- > 0;) {
        const std::size_t slash = descriptor.rfind('/');
        back[i] = descriptor.substr(slash + 1);
        descriptor = descriptor.substr(0, slash);
    }

    ProcessLine p;
    p.time = head[1];
    p.creatorId = head[3];
    p.handling = handling;
    p.id = front[0];
    p.pid = front[1];
    p.commandLine = descriptor;
    std::copy(back, back + attributeCount, p.attributes);
    p.imagePath = front[2];
    drives_.Convert(p.imagePath);

    const auto hold = store_.Hold();
    if (IsStalePass()) {
        return false;
    }
    ProcessRecord* creator = FindActor(ParseNumber(p.creatorId));
    if (ProcessRecord* existing = FindActor(ParseNumber(p.id))) {
        NoteUpdating(existing);
        FillIn(*existing, p, creator);
        return true;
    }
    auto record = std::make_unique<ProcessRecord>();
    FillIn(*record, p, creator);
    if (creator == nullptr) {
        InsertProcess(std::move(record), nullptr, nullptr);
        return true;
    }
    const std::string shortText = ShortCreationText(p, *record);
    const std::string longText = LongCreationText(p, *record);
    const BehaviorText creation{p.time, "创建进程", shortText, longText, p.handling};
    UseSpareChunk();
    InsertProcess(std::move(record), creator, &creation);
    NoteArenaNext();
    return true;
}
