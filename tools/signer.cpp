// The parts of the signer lookup that do not depend on the platform: the result buffer rule and the
// cache.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "engine/text.h"
#include "tools/signer.h"
#include "tools/signer_detail.h"

void StoreSignerName(std::string_view text, char* name) {
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    // A cut never leaves half of a double-byte character behind.
    const std::size_t length = GbkPrefixLength(text, kSignerNameSize - 1);
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
}

namespace {

class PlatformSignerLookup final : public FileSignerLookup {
  public:
    int GetFileSignerName(const wchar_t* path, char* name) override {
        return ::GetFileSignerName(path, name);
    }
};

class CachedSignerLookup final : public FileSignerLookup {
  public:
    CachedSignerLookup(std::shared_ptr<FileSignerLookup> inner, std::size_t capacity,
                       uint32_t missingRecheckMs, SignerClock clock, FileStampReader readStamp,
                       FolderReader folderExists)
        : inner_(std::move(inner)),
          capacity_(capacity),
          missingRecheck_(std::chrono::milliseconds(missingRecheckMs)),
          clock_(clock ? std::move(clock) : SignerClock(&Clock::now)),
          readStamp_(readStamp ? std::move(readStamp) : FileStampReader(&ReadFileStamp)),
          folderExists_(folderExists ? std::move(folderExists) : FolderReader(&ReadFolderExists)) {}

    int GetFileSignerName(const wchar_t* path, char* name) override {
        if (path == nullptr || name == nullptr) {
            return -1;
        }
        const std::wstring_view wide(path);
        // Wide paths are kept by their bytes, apart from the system code page's.
        const std::string_view key(reinterpret_cast<const char*>(wide.data()),
                                   wide.size() * sizeof(wchar_t));
        return Lookup(
            wide_, key, [path] { return std::wstring(path); }, WideFolderLength, name);
    }

    int GetSystemPathSignerName(std::string_view path, char* name) override {
        if (name == nullptr) {
            return -1;
        }
        return Lookup(
            system_, path, [path] { return WidenSystemPath(path); }, SystemFolderLength, name);
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        FileStamp stamp;
        int result = -1;
        std::string name;
        // Converted once, for the stamp that checks the entry; shared, so a hit copies no text.
        std::shared_ptr<const std::wstring> widePath;
    };
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>()(key);
        }
    };
    template <typename Value>
    using Map = std::unordered_map<std::string, Value, KeyHash, std::equal_to<>>;
    struct Folder {
        Clock::time_point since;  // when it was looked at
        bool exists = false;
    };
    // What is known of the paths given in one form.
    struct Table {
        Map<Entry> entries;
        Map<Clock::time_point> missing;  // when each was found missing
        // The folders of missing files, by the key's bytes up to the last separator.
        Map<Folder> folders;
    };

    // How many bytes of a key name the file's folder: up to its last separator; 0 when it has
    // none. A path in the system code page is walked by characters, since a trail byte may equal
    // a separator's.
    static std::size_t SystemFolderLength(std::string_view key) {
        std::size_t folder = 0;
        for (std::size_t i = 0; i < key.size();) {
            const std::size_t length = GbkCharLength(key, i);
            if (length == 1 && IsFolderSeparator(static_cast<unsigned char>(key[i]))) {
                folder = i;
            }
            i += length;
        }
        return folder;
    }
    static std::size_t WideFolderLength(std::string_view key) {
        std::size_t folder = 0;
        for (std::size_t i = 0; i + sizeof(wchar_t) <= key.size(); i += sizeof(wchar_t)) {
            wchar_t c;
            std::memcpy(&c, key.data() + i, sizeof(c));
            if (IsFolderSeparator(c)) {
                folder = i;
            }
        }
        return folder;
    }
    // The wide path's folder, which ends at its last separator as the key's does.
    static std::wstring FolderOf(const std::wstring& path) {
        for (std::size_t i = path.size(); i-- > 0;) {
            if (IsFolderSeparator(path[i])) {
                return path.substr(0, i);
            }
        }
        return {};
    }
    template <typename Value>
    void Remember(Map<Value>& map, std::string_view key, Value value) {
        if (map.size() >= capacity_) {
            map.clear();
        }
        map.insert_or_assign(std::string(key), std::move(value));
    }

    template <typename Widen, typename FolderLength>
    int Lookup(Table& table, std::string_view key, const Widen& widen,
               const FolderLength& folderLength, char* name) {
        std::shared_ptr<const std::wstring> widePath;
        FileStamp before;
        const std::string_view folder = key.substr(0, folderLength(key));
        bool folderKnown = false;
        {
            // Logs are often read far from the machine that wrote them, where their module files
            // do not exist: every module line would cost a failed look at the file system. A file
            // found since keeps its old, expired time here.
            std::lock_guard guard(mutex_);
            const Clock::time_point now = clock_();
            if (!table.missing.empty()) {
                const auto it = table.missing.find(key);
                if (it != table.missing.end() && now - it->second < missingRecheck_) {
                    return -1;
                }
            }
            // Their files are mostly in a few folders, which do not exist either: a file in a
            // folder found missing is missing too, for as long as that finding holds.
            if (!folder.empty() && !table.folders.empty()) {
                const auto it = table.folders.find(folder);
                if (it != table.folders.end() && now - it->second.since < missingRecheck_) {
                    if (!it->second.exists) {
                        return -1;
                    }
                    folderKnown = true;
                }
            }
            if (const auto it = table.entries.find(key); it != table.entries.end()) {
                widePath = it->second.widePath;
            }
        }
        if (!widePath) {
            widePath = std::make_shared<const std::wstring>(widen());
        }
        if (!readStamp_(widePath->c_str(), before)) {
            // Nothing there to read: the lookup would fail the same way. Whether the folder is
            // there decides the next lookups of its other files.
            const bool probeFolder = !folder.empty() && !folderKnown;
            const bool folderExists = probeFolder && folderExists_(FolderOf(*widePath).c_str());
            std::lock_guard guard(mutex_);
            const Clock::time_point now = clock_();
            Remember(table.missing, key, now);
            if (probeFolder) {
                Remember(table.folders, folder, Folder{now, folderExists});
            }
            return -1;
        }
        {
            std::lock_guard guard(mutex_);
            const auto it = table.entries.find(key);
            if (it != table.entries.end() && it->second.stamp == before) {
                if (it->second.result == 0) {
                    StoreSignerName(it->second.name, name);
                }
                return it->second.result;
            }
        }
        // The file is read without the mutex held: other threads' lookups need not wait for it.
        char fresh[kSignerNameSize] = {};
        const int result = inner_->GetFileSignerName(widePath->c_str(), fresh);
        // An answer read while the file changed belongs to neither version: not remembered.
        FileStamp after;
        if (readStamp_(widePath->c_str(), after) && after == before) {
            std::lock_guard guard(mutex_);
            Remember(
                table.entries, key,
                Entry{before, result, result == 0 ? std::string(fresh) : "", std::move(widePath)});
        }
        if (result == 0) {
            StoreSignerName(fresh, name);
        }
        return result;
    }

    std::shared_ptr<FileSignerLookup> inner_;
    std::size_t capacity_;
    const Clock::duration missingRecheck_;
    SignerClock clock_;
    FileStampReader readStamp_;
    FolderReader folderExists_;
    std::mutex mutex_;
    Table wide_;
    Table system_;
};

}  // namespace

std::shared_ptr<FileSignerLookup> MakePlatformSignerLookup() {
    return std::make_shared<PlatformSignerLookup>();
}

std::shared_ptr<FileSignerLookup> MakeCachedSignerLookupWith(
    std::shared_ptr<FileSignerLookup> inner, std::size_t capacity, uint32_t missingRecheckMs,
    SignerClock clock, FileStampReader readStamp, FolderReader folderExists) {
    return std::make_shared<CachedSignerLookup>(std::move(inner), capacity == 0 ? 1 : capacity,
                                                missingRecheckMs, std::move(clock),
                                                std::move(readStamp), std::move(folderExists));
}

std::shared_ptr<FileSignerLookup> MakeCachedSignerLookup(std::shared_ptr<FileSignerLookup> inner,
                                                         std::size_t capacity,
                                                         uint32_t missingRecheckMs,
                                                         SignerClock clock) {
    return MakeCachedSignerLookupWith(std::move(inner), capacity, missingRecheckMs,
                                      std::move(clock), nullptr);
}

std::shared_ptr<FileSignerLookup> MakeModuleSignerLookup() {
    return MakeCachedSignerLookup(MakePlatformSignerLookup());
}

std::size_t DecodeUtf8(const unsigned char* bytes, std::size_t length, std::u32string& text) {
    text.clear();
    std::size_t replaced = 0;
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = bytes[i];
        std::size_t more = 0;
        char32_t c = lead;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            c = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            c = lead & 0x07;
            minimum = 0x10000;
        }
        bool valid = lead < 0x80 || (more > 0 && more < length - i);
        for (std::size_t k = 1; valid && k <= more; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            text.push_back(0xFFFD);
            ++replaced;
            ++i;
            continue;
        }
        text.push_back(c);
        i += more + 1;
    }
    return replaced;
}

namespace {

// Why a file the lookup found no name in has none.
SignerResult MissingSignerReason(const std::string& path) {
    SignerResult result;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == S_IFDIR) {
        result.status = SignerStatus::kDirectory;
        return result;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        result.status = SignerStatus::kUnreadable;
        result.systemError = std::strerror(errno);
        return result;
    }
    // A PE file: "MZ", and "PE\0\0" where the offset at 0x3C points.
    unsigned char dos[64] = {};
    unsigned char pe[4] = {};
    bool isPe =
        std::fread(dos, 1, sizeof(dos), file) == sizeof(dos) && dos[0] == 'M' && dos[1] == 'Z';
    if (isPe) {
        const long offset = static_cast<long>(dos[0x3C] | (dos[0x3D] << 8) | (dos[0x3E] << 16) |
                                              (static_cast<unsigned long>(dos[0x3F]) << 24));
        isPe = offset >= 0 && std::fseek(file, offset, SEEK_SET) == 0 &&
               std::fread(pe, 1, sizeof(pe), file) == sizeof(pe) &&
               std::memcmp(pe, "PE\0\0", sizeof(pe)) == 0;
    }
    std::fclose(file);
    result.status = isPe ? SignerStatus::kNoSignerCertificate : SignerStatus::kNotPe;
    return result;
}

}  // namespace

SignerResult LookUpSigner(const std::string& path) {
    char name[kSignerNameSize] = {};
    if (GetFileSignerName(WidenArgumentPath(path).c_str(), name) != 0) {
        return MissingSignerReason(path);
    }
    SignerResult result;
    result.status = SignerStatus::kNamed;
    result.name = name;
    return result;
}

std::string SignerReasonText(const SignerResult& result) {
    switch (result.status) {
        case SignerStatus::kNamed:
            return {};
        case SignerStatus::kDirectory:
            return "is a directory";
        case SignerStatus::kUnreadable:
            return result.systemError;
        case SignerStatus::kNotPe:
            return "not a PE file";
        case SignerStatus::kNoSignerCertificate:
            return "no embedded signature that carries its signer's certificate";
    }
    return {};
}
