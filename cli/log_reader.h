#pragma once

#include <string>
#include <string_view>

class DriveTable;
class LogAnalyzer;

// Runs one analyzer pass over the log at `path`, treating the file as complete: every CR LF line
// is parsed in order, and a last line without CR LF too. False with a reason when the file cannot
// be read, is not a regular file, or could not be read to its end.
bool AnalyseWholeLog(const std::string& path, LogAnalyzer& analyzer, std::string& error);

// Adds one --drive value, X:=DEVICE, to `table`; false when it has another shape.
bool ParseDriveOption(std::string_view spec, DriveTable& table);
