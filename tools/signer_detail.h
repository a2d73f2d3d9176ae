// What the signer lookup's implementations share; not for use outside tools/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

// Writes `text` (code page 936) into a kSignerNameSize buffer: up to its first NUL, cut to at most
// 259 bytes without splitting a double-byte character, NUL-ended.
void StoreSignerName(std::string_view text, char* name);

// What tells one version of a file from another without reading it.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t lastWrite = 0;  // in the platform's finest unit
    bool operator==(const FileStamp&) const = default;
};

// False when the file cannot be examined or is not a regular file.
bool ReadFileStamp(const wchar_t* path, FileStamp& stamp);

// Whether `c` separates a path's folders, on this platform.
bool IsFolderSeparator(wchar_t c);
// True when `path` names a folder that exists.
bool ReadFolderExists(const wchar_t* path);

// MakeCachedSignerLookup with the file system's stamps read through `readStamp` (null:
// ReadFileStamp) and folders looked at through `folderExists` (null: ReadFolderExists), so that
// tests can count how often the file system is asked.
using FileStampReader = std::function<bool(const wchar_t*, FileStamp&)>;
using FolderReader = std::function<bool(const wchar_t*)>;
class FileSignerLookup;
std::shared_ptr<FileSignerLookup> MakeCachedSignerLookupWith(
    std::shared_ptr<FileSignerLookup> inner, std::size_t capacity, std::uint32_t missingRecheckMs,
    std::function<std::chrono::steady_clock::time_point()> clock, FileStampReader readStamp,
    FolderReader folderExists = nullptr);

#ifndef _WIN32
// A wide path as the bytes the file system takes (UTF-8).
std::string NativePath(const wchar_t* path);
#endif

// Decodes UTF-8 into `text`, each byte that begins no valid character (overlong forms and
// surrogates included) as U+FFFD. Returns how many bytes were replaced.
std::size_t DecodeUtf8(const unsigned char* bytes, std::size_t length, std::u32string& text);
