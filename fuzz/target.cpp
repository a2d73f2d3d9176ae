// One libFuzzer target: VANTREL_FUZZ_ENTRY names the entry of fuzz/entries.h it drives.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string problem = VANTREL_FUZZ_ENTRY(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "unsound: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
