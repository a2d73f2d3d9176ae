// Opening the folder of an image file in the file browser, with the file selected.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// "explorer.exe /select," immediately followed by the path, without quotes: the browser takes the
// rest of its command line as the path, blanks included.
std::string FolderCommandLine(std::string_view imagePath);

// Starts `commandLine` shown normally. A 32-bit build on 64-bit Windows has the file-system
// redirection switched off for the call, so a path under System32 means the real System32.
// Returns what WinExec returns: above 31 when the program started.
UINT LaunchWithoutRedirection(const std::string& commandLine);
