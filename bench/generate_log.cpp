// vantrel-genlog: writes a realistic behaviour log of a given size, the same bytes for a seed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/log_generator.h"

int main(int argc, char** argv) {
    LogShape shape;
    const char* out = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mib" && i + 1 < argc) {
            shape.bytes = std::strtoull(argv[++i], nullptr, 10) << 20;
        } else if (arg == "--bytes" && i + 1 < argc) {
            shape.bytes = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--processes" && i + 1 < argc) {
            shape.processes = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--seed" && i + 1 < argc) {
            shape.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--profile" && i + 1 < argc) {
            if (!ParseLogProfile(argv[++i], shape.profile)) {
                out = nullptr;
                break;
            }
        } else if (arg[0] != '-' && out == nullptr) {
            out = argv[i];
        } else {
            out = nullptr;
            break;
        }
    }
    if (out == nullptr) {
        std::fputs(
            "usage: vantrel-genlog [--mib N | --bytes N] [--processes P] [--seed S]\n"
            "                      [--profile common|distinct] OUT\n",
            stderr);
        return 2;
    }
    std::FILE* file = std::fopen(out, "wb");
    if (file == nullptr) {
        std::perror(out);
        return 1;
    }
    LogGenerator generator(shape);
    std::string buffer;
    while (generator.Next(buffer)) {
        if (buffer.size() >= (1u << 20)) {
            std::fwrite(buffer.data(), 1, buffer.size(), file);
            buffer.clear();
        }
    }
    std::fwrite(buffer.data(), 1, buffer.size(), file);
    return std::fclose(file) == 0 ? 0 : 1;
}
