#include "ui/folder_launch.h"

std::string FolderCommandLine(std::string_view imagePath) {
    std::string line = "explorer.exe /select,";
    line.append(imagePath);
    return line;
}

UINT LaunchWithoutRedirection(const std::string& commandLine) {
    using Disable = BOOL(WINAPI*)(PVOID*);
    using Revert = BOOL(WINAPI*)(PVOID);
    HMODULE kernel = ::GetModuleHandleA("Kernel32.dll");
    if (kernel == nullptr) {
        kernel = ::LoadLibraryA("Kernel32.dll");
    }
    Disable disable = nullptr;
    Revert revert = nullptr;
    if (kernel != nullptr) {
        disable = reinterpret_cast<Disable>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        revert = reinterpret_cast<Revert>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
    }
    // Only a switch that was made is undone: a 64-bit process has no redirection to switch off,
    // and its kept state would be garbage.
    PVOID previous = nullptr;
    const bool switched = disable != nullptr && revert != nullptr && disable(&previous) != FALSE;
    const UINT result = ::WinExec(commandLine.c_str(), SW_SHOWNORMAL);
    if (switched) {
        revert(previous);
    }
    return result;
}
