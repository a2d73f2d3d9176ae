#include "fuzz/entries.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/log_analyzer.h"
#include "tests/engine/store_dump.h"
#include "tools/feature_code.h"
#include "tools/signer.h"
#ifndef _WIN32
#include "tools/signer_openssl.h"
#endif

namespace {

// Answers without opening any file: the fuzzed paths name nothing real, and the answer depends
// only on the path so that two parses of the same lines agree.
class FakeSigner final : public FileSignerLookup {
  public:
    int GetFileSignerName(const wchar_t* path, char* name) override {
        const std::size_t length = std::wcslen(path);
        if (length % 3 == 0) {
            return -1;
        }
        std::strcpy(name, length % 3 == 1 ? "Microsoft Windows" : "Someone");
        return 0;
    }
};

AnalyzerSeams QuietSeams(std::shared_ptr<LogFileSource> files = nullptr) {
    AnalyzerSeams seams;
    seams.drives = std::make_shared<DriveTable>(
        DriveTable{{"C:", "\\Device\\HarddiskVolume2"}, {"D:", "\\Device\\HarddiskVolume3"}});
    seams.signer = std::make_shared<FakeSigner>();
    seams.files = std::move(files);
    seams.throttle = std::chrono::milliseconds(0);
    return seams;
}

// A file that grows in steps, each read returning as much as the next planned size allows.
class SteppedFiles final : public LogFileSource {
  public:
    SteppedFiles(std::string content, std::vector<std::size_t> readSizes)
        : content_(std::move(content)), readSizes_(std::move(readSizes)) {}

    void SetVisible(std::size_t visible) {
        std::lock_guard guard(mutex_);
        visible_ = visible;
    }

    std::unique_ptr<LogFileReader> Open(const std::string&) override {
        return std::make_unique<Reader>(*this);
    }

  private:
    class Reader final : public LogFileReader {
      public:
        explicit Reader(SteppedFiles& files) : files_(files) {}
        bool Size(uint64_t& size) override {
            std::lock_guard guard(files_.mutex_);
            size = files_.visible_;
            return true;
        }
        bool Seek(uint64_t offset) override {
            position_ = offset;
            return true;
        }
        std::size_t Read(char* buffer, std::size_t size) override {
            std::lock_guard guard(files_.mutex_);
            if (position_ >= files_.visible_) {
                return 0;
            }
            const std::size_t planned =
                files_.readSizes_[files_.nextRead_++ % files_.readSizes_.size()];
            const std::size_t n =
                std::min({size, planned, files_.visible_ - static_cast<std::size_t>(position_)});
            std::memcpy(buffer, files_.content_.data() + position_, n);
            position_ += n;
            return n;
        }

      private:
        SteppedFiles& files_;
        uint64_t position_ = 0;
    };

    std::mutex mutex_;
    const std::string content_;
    const std::vector<std::size_t> readSizes_;
    std::size_t nextRead_ = 0;
    std::size_t visible_ = 0;
};

void ParseWhole(LogAnalyzer& analyzer, std::string_view log) {
    std::size_t at = 0;
    for (std::size_t end; (end = log.find("\r\n", at)) != std::string_view::npos; at = end + 2) {
        analyzer.ParseLine(log.substr(at, end - at));
    }
    if (at < log.size()) {
        analyzer.ParseLine(log.substr(at));
    }
}

}  // namespace

std::string CheckStoreInvariants(LogAnalyzer& analyzer) {
    const auto guard = analyzer.Store().Read();
    std::unordered_set<const ProcessRecord*> seen;
    std::unordered_map<uint32_t, ProcessRecord*> firstById;
    std::vector<ProcessRecord*> order;
    const auto holdsNull = [](const ProcessList& list) {
        return std::find(list.begin(), list.end(), nullptr) != list.end();
    };
    if (holdsNull(guard.roots())) {
        return "a null record in a list";
    }
    // A broken tree may hold a cycle: the walk ends at the first record reached twice.
    std::string problem;
    guard.ForEachProcessInTreeOrder([&](ProcessRecord& p) {
        if (!seen.insert(&p).second) {
            problem = "record " + std::to_string(p.id) + " is reached twice";
        } else if (!firstById.emplace(p.id, &p).second) {
            problem = "id " + std::to_string(p.id) + " is held by two records";
        } else if (holdsNull(p.children)) {
            problem = "a null record in a list";
        }
        order.push_back(&p);
        return problem.empty();
    });
    if (!problem.empty()) {
        return problem;
    }
    for (ProcessRecord* p : order) {
        if (guard.FindProcess(p->id) != p) {
            return "FindProcess(" + std::to_string(p->id) + ") disagrees with the tree";
        }
        if (std::memchr(p->name, '\0', sizeof(p->name)) == nullptr ||
            std::memchr(p->imagePath, '\0', sizeof(p->imagePath)) == nullptr) {
            return "a name or image path of record " + std::to_string(p->id) + " has no NUL";
        }
    }
    // Ids next to those present must not be found when absent.
    for (ProcessRecord* p : order) {
        for (const uint32_t id : {p->id - 1, p->id + 1}) {
            if (firstById.count(id) == 0 && guard.FindProcess(id) != nullptr) {
                return "FindProcess(" + std::to_string(id) + ") finds a record not in the tree";
            }
        }
    }
    return {};
}

std::string FuzzParseLines(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogAnalyzer analyzer(QuietSeams());
    uint64_t lines = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::size_t cut = end > at && text[end - 1] == '\r' ? end - 1 : end;
        analyzer.ParseLine(text.substr(at, cut - at));
        ++lines;
        at = end + 1;
    }
    const LogAnalyzer::ParseCounts counts = analyzer.Counts();
    if (counts.lines != lines || counts.dropped > counts.lines) {
        return "counts: " + std::to_string(counts.lines) + " lines, " +
               std::to_string(counts.dropped) + " dropped, for " + std::to_string(lines);
    }
    return CheckStoreInvariants(analyzer);
}

std::string FuzzFollowerChunks(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return {};
    }
    // Head: how many read sizes, how many growth steps, then those bytes.
    const std::size_t readCount = data[0] % 8 + 1;
    const std::size_t stepCount = data[1] % 4;
    const std::size_t head = 2 + readCount + stepCount;
    if (size < head) {
        return {};
    }
    std::vector<std::size_t> readSizes;
    for (std::size_t i = 0; i < readCount; ++i) {
        const uint8_t v = data[2 + i];
        // Mostly tiny reads, which split lines anywhere; now and then a whole chunk.
        readSizes.push_back(v >= 0xF0 ? kChunkSize : v % 16 + 1);
    }
    const std::string log(reinterpret_cast<const char*>(data + head), size - head);
    std::vector<std::size_t> steps;
    for (std::size_t i = 0; i < stepCount; ++i) {
        steps.push_back(log.size() * data[2 + readCount + i] / 256);
    }
    std::sort(steps.begin(), steps.end());
    // A step that shows nothing new could let a held line count as finished: skip repeats.
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    steps.push_back(log.size());

    auto files = std::make_shared<SteppedFiles>(log, readSizes);
    LogAnalyzer followed(QuietSeams(files));
    followed.SetLogPath("fuzz.log");
    for (std::size_t i = 0; i < steps.size(); ++i) {
        files->SetVisible(steps[i]);
        if (i + 1 == steps.size()) {
            followed.SetFileComplete(true);
        }
        if (!followed.WaitForWake(followed.Wake())) {
            return "the follower stopped";
        }
    }
    // A last line held back by the step before is parsed by a wake that finds nothing new.
    if (!followed.WaitForWake(followed.Wake())) {
        return "the follower stopped";
    }
    LogAnalyzer oneShot(QuietSeams());
    ParseWhole(oneShot, log);
    if (followed.Counts().lines != oneShot.Counts().lines ||
        followed.Counts().dropped != oneShot.Counts().dropped) {
        return "followed " + std::to_string(followed.Counts().lines) + " lines, one shot " +
               std::to_string(oneShot.Counts().lines);
    }
    if (DumpStore(followed) != DumpStore(oneShot)) {
        return "the followed store differs from a one-shot parse";
    }
    {
        const auto guard = followed.Store().Read();
        if (followed.ReadOffset() != log.size()) {
            return "read offset " + std::to_string(followed.ReadOffset()) + " of " +
                   std::to_string(log.size());
        }
    }
    return CheckStoreInvariants(followed);
}

namespace {

// Answers the conversion's two queries with raw bytes: a platform may answer anything.
class RawDrives final : public DriveDeviceSource {
  public:
    std::string list;
    std::vector<std::string> targets;  // "!" fails the query
    std::size_t queries = 0;

    bool ListDrives(char* buffer, std::size_t size) override {
        if (list == "!") {
            return false;
        }
        std::memset(buffer, 0, size);
        std::memcpy(buffer, list.data(), std::min(size, list.size()));
        return true;
    }
    bool QueryDevice(const char* driveName, char* target, std::size_t size) override {
        if (std::strlen(driveName) > 3) {
            return false;  // the conversion handed over a name longer than its buffer
        }
        const std::string& answer = targets.empty() ? list : targets[queries++ % targets.size()];
        if (answer == "!") {
            return false;
        }
        std::memset(target, 0, size);
        std::memcpy(target, answer.data(), std::min(size, answer.size()));
        return true;
    }
};

}  // namespace

std::string FuzzDevicePath(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return {};
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t listLength = std::min<std::size_t>(data[0] * 4u, size - 2);
    const std::size_t targetsLength = std::min<std::size_t>(data[1] * 4u, size - 2 - listLength);
    RawDrives drives;
    drives.list = std::string(input.substr(2, listLength));
    const std::string_view targets = input.substr(2 + listLength, targetsLength);
    for (std::size_t at = 0; at < targets.size();) {
        const std::size_t end = std::min(targets.find('\n', at), targets.size());
        drives.targets.emplace_back(targets.substr(at, end - at));
        at = end + 1;
    }
    const std::string original(input.substr(2 + listLength + targetsLength));
    std::string path = original;
    const int result = ConvertDevicePath(path, drives);
    if (result == 0) {
        const bool objectManagerForm = original.compare(0, 4, "\\??\\") == 0;
        if (path != (objectManagerForm ? original.substr(4) : original)) {
            return "a path was changed although no device name was replaced";
        }
    } else if (result != 1) {
        return "result " + std::to_string(result);
    } else if (path.size() > original.size() + 1) {
        // A device name of at least one byte gave way to a drive name of at most two.
        return "a replaced path of " + std::to_string(path.size()) + " bytes from " +
               std::to_string(original.size());
    }
    return {};
}

namespace {

bool IsCode(const std::string& code) {
    return code.size() == 32 && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

std::string FuzzFeatureCode(const uint8_t* data, std::size_t size) {
    const std::size_t length = std::min(size, kFeatureCodeExaminedBytes);
    PeHeaderView view;
    view.sectionTable = 12345;
    const FeatureCodeError located = LocateSectionTable(data, length, view);
    if (located == FeatureCodeError::kNone) {
        if (view.bytes != data || view.sectionTable + view.sectionTableLength > length ||
            view.sectionTableLength == 0 || view.sectionTableLength % 40 != 0 ||
            view.sectionTableLength > 25 * 40 || (view.wordSize != 32 && view.wordSize != 64)) {
            return "a located section table outside the bytes or of a wrong shape";
        }
    } else if (view.sectionTable != 12345) {
        return "a failed check changed the view";
    }
    const FeatureCodeResult exact = FeatureCodeOfBytes(data, length, size);
    if ((exact.error == FeatureCodeError::kNone) != IsCode(exact.code)) {
        return "a code that does not match its error";
    }
    if ((exact.error == FeatureCodeError::kNone) != (located == FeatureCodeError::kNone)) {
        return "the code and the header check disagree";
    }
    // The same first bytes of a larger file: the same code, or none because the table lies past
    // the examined start.
    const FeatureCodeResult larger = FeatureCodeOfBytes(data, length, size + 0x100000000ull);
    if (larger.code != exact.code && larger.error != FeatureCodeError::kSectionTablePastLimit &&
        exact.error != FeatureCodeError::kSectionTablePastEnd) {
        return "a larger file changed the code";
    }
    return {};
}

#ifndef _WIN32
std::string FuzzSignerImage(const uint8_t* data, std::size_t size) {
    char name[kSignerNameSize];
    std::memset(name, 0x5A, sizeof(name));
    const int result = SignerNameFromImage(data, size, name);
    if (result == 0) {
        const void* end = std::memchr(name, '\0', sizeof(name));
        if (end == nullptr) {
            return "a name without its NUL";
        }
    } else if (result != -1) {
        return "result " + std::to_string(result);
    } else if (std::any_of(name, name + sizeof(name), [](char c) { return c != 0x5A; })) {
        return "a failed lookup changed the name";
    }
    return {};
}
#endif
