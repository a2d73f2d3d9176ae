// A deterministic generator of realistic behaviour logs of any size, for benchmarks and soak tests.
#pragma once

#include <cstdint>
#include <string>

// What the log is like. `common`: as a sandbox run reads on its own machine (nine module lines in
// ten name one of 400 system libraries, information texts from a small vocabulary). `distinct`: as
// read away from that machine: module lines name mostly distinct files, absent here, and nearly
// every information text is different.
enum class LogProfile { common, distinct };

struct LogShape {
    uint64_t bytes = 1 << 20;   // stop after the line that reaches this size
    uint32_t processes = 2000;  // [PRO] lines spread evenly over the log
    uint64_t seed = 1;
    LogProfile profile = LogProfile::common;
};

// "common" or "distinct"; false for any other name.
bool ParseLogProfile(const char* name, LogProfile& profile);

class LogGenerator {
  public:
    explicit LogGenerator(const LogShape& shape);
    // Appends the next line with its CR LF to `out`; false once the log is complete.
    bool Next(std::string& out);
    uint64_t BytesWritten() const { return written_; }

  private:
    uint64_t Random();
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Random() % n); }
    void AppendPath(std::string& out, int minBytes);
    void ProcessLine(std::string& out);
    void LoadLine(std::string& out, bool module);
    void Time(std::string& out);
    void AppendUnique(std::string& out);
    uint32_t Actor();

    LogShape shape_;
    uint64_t state_;
    uint64_t written_ = 0;
    uint64_t lines_ = 0;
    uint32_t created_ = 0;
    uint64_t linesPerProcess_;
    uint64_t unique_ = 0;
};
