// The parts of the signer lookup that do not depend on the platform: the result buffer rule and the
// cache.
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "tools/signer.h"
#include "tools/signer_detail.h"

void StoreSignerName(std::string_view text, char* name) {
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    // Walk whole characters so that a cut never leaves half of a double-byte one behind.
    std::size_t length = 0;
    while (length < text.size()) {
        const auto lead = static_cast<unsigned char>(text[length]);
        const std::size_t step = (lead >= 0x81 && lead <= 0xFE && length + 1 < text.size()) ? 2 : 1;
        if (length + step > kSignerNameSize - 1) {
            break;
        }
        length += step;
    }
    std::memcpy(name, text.data(), length);
    name[length] = '\0';
}

namespace {

class PlatformSignerLookup final : public SignerLookup {
  public:
    int GetFileSignerName(const wchar_t* path, char* name) override {
        return ::GetFileSignerName(path, name);
    }
};

class CachedSignerLookup final : public SignerLookup {
  public:
    CachedSignerLookup(std::shared_ptr<SignerLookup> inner, std::size_t capacity,
                       uint32_t missingRecheckMs)
        : inner_(std::move(inner)),
          capacity_(capacity),
          missingRecheck_(std::chrono::milliseconds(missingRecheckMs)) {}

    int GetFileSignerName(const wchar_t* path, char* name) override {
        if (path == nullptr || name == nullptr) {
            return -1;
        }
        {
            // Logs are often read far from the machine that wrote them, where their module files
            // do not exist: every module line would cost a failed look at the file system. A file
            // found since keeps its old, expired time here.
            std::lock_guard guard(mutex_);
            if (!missing_.empty()) {
                const auto it = missing_.find(path);
                if (it != missing_.end() && Clock::now() - it->second < missingRecheck_) {
                    return -1;
                }
            }
        }
        FileStamp before;
        if (!ReadFileStamp(path, before)) {
            // Nothing there to read: the lookup would fail the same way.
            std::lock_guard guard(mutex_);
            if (missing_.size() >= capacity_) {
                missing_.clear();
            }
            missing_[path] = Clock::now();
            return -1;
        }
        {
            std::lock_guard guard(mutex_);
            const auto it = entries_.find(path);
            if (it != entries_.end() && it->second.stamp == before) {
                if (it->second.result == 0) {
                    StoreSignerName(it->second.name, name);
                }
                return it->second.result;
            }
        }
        // The file is read without the mutex held: other threads' lookups need not wait for it.
        char fresh[kSignerNameSize] = {};
        const int result = inner_->GetFileSignerName(path, fresh);
        // An answer read while the file changed belongs to neither version: not remembered.
        FileStamp after;
        if (ReadFileStamp(path, after) && after == before) {
            std::lock_guard guard(mutex_);
            if (entries_.size() >= capacity_) {
                entries_.clear();
            }
            entries_[path] =
                Entry{before, result, result == 0 ? std::string(fresh) : std::string()};
        }
        if (result == 0) {
            StoreSignerName(fresh, name);
        }
        return result;
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        FileStamp stamp;
        int result = -1;
        std::string name;
    };

    std::shared_ptr<SignerLookup> inner_;
    std::size_t capacity_;
    std::mutex mutex_;
    std::unordered_map<std::wstring, Entry> entries_;
    const Clock::duration missingRecheck_;
    std::unordered_map<std::wstring, Clock::time_point> missing_;  // when each was found missing
};

}  // namespace

std::shared_ptr<SignerLookup> MakePlatformSignerLookup() {
    return std::make_shared<PlatformSignerLookup>();
}

std::shared_ptr<SignerLookup> MakeCachedSignerLookup(std::shared_ptr<SignerLookup> inner,
                                                     std::size_t capacity,
                                                     uint32_t missingRecheckMs) {
    return std::make_shared<CachedSignerLookup>(std::move(inner), capacity == 0 ? 1 : capacity,
                                                missingRecheckMs);
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
