// vantrel-cli: the engine for scripts and pipelines. Each command lives in a file of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

using CliArgs = std::vector<std::string>;

// What a command is given: its arguments (after its name) as the platform passed them, which is
// what file names must be opened with, and the same arguments as UTF-8 for texts such as a pattern.
struct CliInput {
    CliArgs args;
    CliArgs utf8;
};

// Each command returns the process's exit code.
int RunJsonCommand(const CliInput& input);
int RunSearchCommand(const CliInput& input);
int RunStatsCommand(const CliInput& input);
int RunFeatureCodeCommand(const CliInput& input);
int RunSignerCommand(const CliInput& input);
int RunCsvCommand(const CliInput& input);
int RunFollowCommand(const CliInput& input);

// Exit codes, as command-line users expect them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What json and stats say of a log longer than the engine reads.
inline constexpr const char* kCutAtReadCapText =
    "larger than 600 MiB: only its first 600 MiB were read, the rest is left out";

// Writes "vantrel-cli: " and the message to standard error.
void PrintError(std::string_view message);

class SearchPattern;
// The pattern `utf8` in code page 936; false after printing why it cannot be one
// (empty, or a character code page 936 cannot write). `command` names the command in the message.
bool PatternFromArgument(std::string_view command, std::string_view utf8, bool matchCase,
                         SearchPattern& pattern);
