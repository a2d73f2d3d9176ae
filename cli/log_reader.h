#pragma once

#include <string>

class LogAnalyzer;

// Parses every CR LF line of the log at `path` in order, and a last line without CR LF too: the
// command line treats the file as complete. False with a reason when it cannot be read.
bool ParseWholeLog(const std::string& path, LogAnalyzer& analyzer, std::string& error);
