// Every seed of the fuzz targets and every input that once broke one, replayed through the same
// entry the target drives, so that both builds keep handling them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/log_analyzer.h"
#include "fuzz/entries.h"

namespace fs = std::filesystem;

// A sound store cannot be broken through its interface; this test breaks one on purpose.
struct ProcessStoreTestAccess {
    static ProcessList& Roots(ProcessStore& store) { return store.roots; }
};

namespace {

struct Target {
    const char* name;
    std::string (*entry)(const uint8_t*, std::size_t);
};

const Target kTargets[] = {
    {"parse_line", FuzzParseLines},    {"follower_chunks", FuzzFollowerChunks},
    {"device_path", FuzzDevicePath},   {"feature_code", FuzzFeatureCode},
#ifndef _WIN32
    {"signer_image", FuzzSignerImage},
#endif
};

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(FuzzReplay, SeedsAndRegressionsAreHandledSoundly) {
    std::size_t replayed = 0;
    for (const Target& target : kTargets) {
        for (const char* kind : {"corpus", "regressions"}) {
            const fs::path dir = fs::path(VANTREL_FUZZ_DIR) / kind / target.name;
            if (!fs::is_directory(dir)) {
                continue;
            }
            for (const fs::directory_entry& file : fs::directory_iterator(dir)) {
                SCOPED_TRACE(file.path().string());
                const std::vector<uint8_t> bytes = ReadAll(file.path());
                EXPECT_EQ(target.entry(bytes.data(), bytes.size()), "");
                ++replayed;
            }
        }
    }
    EXPECT_GE(replayed, 10u);
}

// The checks themselves must see a broken store: two records with one id, and a record in two
// lists.
TEST(FuzzReplay, TheStoreCheckSeesABrokenTree) {
    {
        LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>()});
        auto first = std::make_unique<ProcessRecord>();
        first->id = 7;
        auto second = std::make_unique<ProcessRecord>();
        second->id = 7;
        ProcessRecord* root = analyzer.InsertProcess(std::move(first), nullptr, nullptr);
        analyzer.InsertProcess(std::move(second), root, nullptr);
        EXPECT_NE(CheckStoreInvariants(analyzer), "");
    }
    {
        LogAnalyzer analyzer(AnalyzerSeams{std::make_shared<DriveTable>()});
        auto first = std::make_unique<ProcessRecord>();
        first->id = 1;
        auto second = std::make_unique<ProcessRecord>();
        second->id = 2;
        ProcessRecord* root = analyzer.InsertProcess(std::move(first), nullptr, nullptr);
        ProcessRecord* child = analyzer.InsertProcess(std::move(second), root, nullptr);
        EXPECT_EQ(CheckStoreInvariants(analyzer), "");
        const auto guard = analyzer.Store().Read();
        ProcessStoreTestAccess::Roots(analyzer.Store()).push_back(child);
        EXPECT_NE(CheckStoreInvariants(analyzer), "");
        ProcessStoreTestAccess::Roots(analyzer.Store()).pop_back();
    }
}
