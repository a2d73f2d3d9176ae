#include "engine/search_pattern.h"

#include <cstring>

#include "engine/text.h"

// SSE2 is in every x86-64 processor, and in every one that Windows 8 and later run on.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VANTREL_SEARCH_SSE2 1
#include <emmintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#endif
#else
#define VANTREL_SEARCH_SSE2 0
#endif

namespace {

#if VANTREL_SEARCH_SSE2
unsigned LowestBit(unsigned bits) {
#if defined(_MSC_VER)
    unsigned long index = 0;
    _BitScanForward(&index, bits);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctz(bits));
#endif
}
#endif

bool IsAsciiLetter(unsigned char c) {
    const unsigned char lower = c | 0x20;
    return lower >= 'a' && lower <= 'z';
}

// How common a byte is in a log's texts, roughly: paths, keys and addresses are full of these
// separators and lower-case letters; the rarer the anchor, the fewer places are compared in full.
// A letter that folds is looked for in both cases, which costs about twice a plain byte.
int Commonness(unsigned char c, bool folds) {
    if (folds) {
        // Letters by how often they occur in paths, keys and host names: common ones first.
        static constexpr std::string_view kByFrequency = "etsaoinrlcmdwphuygfbkvxjqz";
        const std::size_t rank = kByFrequency.find(static_cast<char>(c | 0x20));
        return rank < 8 ? 12 : rank < 16 ? 9 : 7;
    }
    if (std::strchr("\\. :/_-", c) != nullptr && c != 0) {
        return 10;
    }
    if (c >= 'a' && c <= 'z') {
        return 6;
    }
    if (c >= '0' && c <= '9') {
        return 5;
    }
    if (c >= 'A' && c <= 'Z') {
        return 4;
    }
    if (c >= 0x80) {
        return 3;
    }
    return 2;
}

}  // namespace

SearchPattern::SearchPattern(std::string bytes, bool matchCase)
    : bytes_(std::move(bytes)), matchCase_(matchCase), folds_(bytes_.size(), false) {
    int best = 1000;
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes_[i]);
        const std::size_t length = GbkCharLength(bytes_, i);
        const bool pair = length == 2;
        if (IsGbkLeadByte(c) && !pair) {
            endsWithLoneLead_ = true;
        }
        if (!pair && !matchCase_ && IsAsciiLetter(c)) {
            folds_[i] = true;
        }
        for (std::size_t j = i; j < i + length; ++j) {
            const auto b = static_cast<unsigned char>(bytes_[j]);
            const int commonness = Commonness(b, folds_[j]);
            if (commonness < best) {
                best = commonness;
                anchor_ = j;
            }
        }
        i += length - 1;
    }
    if (!bytes_.empty()) {
        anchorByte_ = static_cast<unsigned char>(bytes_[anchor_]);
        anchorFolds_ = folds_[anchor_];
        if (anchorFolds_) {
            anchorByte_ |= 0x20;
        }
    }
}

const unsigned char* SearchPattern::NextAnchor(const unsigned char* from,
                                               const unsigned char* last) const {
    if (from > last) {
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(last - from) + 1;
    const void* lower = std::memchr(from, anchorByte_, size);
    if (!anchorFolds_) {
        return static_cast<const unsigned char*>(lower);
    }
    // Two library scans beat one loop over the bytes: memchr looks at many bytes a step. The
    // second scan stops where the first found its byte.
    const std::size_t upperSize =
        lower != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(lower) - from)
                         : size;
    const void* upper = std::memchr(from, anchorByte_ & ~0x20, upperSize);
    return static_cast<const unsigned char*>(upper != nullptr ? upper : lower);
}

bool SearchPattern::MatchesAt(const unsigned char* text, std::size_t size,
                              std::size_t start) const {
    const auto* pattern = reinterpret_cast<const unsigned char*>(bytes_.data());
    const std::size_t length = bytes_.size();
    // The text's characters start where the pattern's do: both start at a character, and a lead
    // byte only ever equals a lead byte.
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char t = text[start + i];
        const unsigned char p = pattern[i];
        if (t != p && !(folds_[i] && (t | 0x20) == (p | 0x20))) {
            return false;
        }
    }
    return !(endsWithLoneLead_ && start + length < size);
}

bool SearchPattern::FoundIn(std::string_view text) const {
    const std::size_t length = bytes_.size();
    if (length == 0) {
        return true;
    }
    const std::size_t size = text.size();
    if (size < length) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    // A known character start at or before every candidate still to come.
    std::size_t known = 0;
    const auto matchesAt = [&](std::size_t start) {
        // The bytes first: most candidates fail at once, and the look back below may walk a run
        // of double-byte characters.
        if (start < known || !MatchesAt(bytes, size, start)) {
            return false;
        }
        // Whether a character starts at `start`, read backwards: the bytes before it that may lead
        // a character pair up from the last byte that cannot (or from the known start), so
        // `start` begins one when there is an even number of them. In ASCII text that is one
        // look back, not a walk over the text; `known` keeps the looks back linear in all.
        std::size_t leads = 0;
        while (start - leads > known && IsGbkLeadByte(bytes[start - leads - 1])) {
            ++leads;
        }
        if (leads % 2 != 0) {
            known = start + 1;  // `start` is a trail byte: a character starts after it
            return false;
        }
        known = start;
        return true;
    };
    // The first place a match may start that is not looked at yet.
    std::size_t next = 0;
#if VANTREL_SEARCH_SSE2
    // Sixteen places at a time, where the pattern's first and last bytes both fit: in a path one
    // common byte fits every few places, the pair rarely. It also spares the C library's memchr,
    // which in the Windows program under Wine looks at a byte at a time (the search took twice as
    // long there).
    if (length >= 2 && size - length + 1 >= 16) {
        const auto firstByte = static_cast<unsigned char>(bytes_.front());
        const auto lastByte = static_cast<unsigned char>(bytes_.back());
        const __m128i foldFirst = _mm_set1_epi8(folds_.front() ? 0x20 : 0);
        const __m128i foldLast = _mm_set1_epi8(folds_.back() ? 0x20 : 0);
        const __m128i first =
            _mm_set1_epi8(static_cast<char>(folds_.front() ? firstByte | 0x20 : firstByte));
        const __m128i lastOne =
            _mm_set1_epi8(static_cast<char>(folds_.back() ? lastByte | 0x20 : lastByte));
        // And the anchor, the pattern's least common byte, when it is neither: in `\temp\` the
        // first and last bytes fit around every two-character folder name of a Chinese path.
        const std::size_t middle = anchor_ > 0 && anchor_ < length - 1 ? anchor_ : 0;
        const __m128i foldMiddle = _mm_set1_epi8(folds_[middle] ? 0x20 : 0);
        const __m128i middleOne = _mm_set1_epi8(
            static_cast<char>(folds_[middle] ? bytes_[middle] | 0x20 : bytes_[middle]));
        for (; next + length - 1 + 16 <= size; next += 16) {
            const __m128i starts = _mm_or_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + next)), foldFirst);
            const __m128i ends = _mm_or_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + next + length - 1)),
                foldLast);
            const __m128i middles = _mm_or_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + next + middle)),
                foldMiddle);
            auto places = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
                _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, lastOne)),
                _mm_cmpeq_epi8(middles, middleOne))));
            while (places != 0) {
                if (matchesAt(next + LowestBit(places))) {
                    return true;
                }
                places &= places - 1;
            }
        }
    }
#endif
    // The last place the anchor byte of a match that fits can be.
    const unsigned char* last = bytes + (size - length) + anchor_;
    for (const unsigned char* at = NextAnchor(bytes + next + anchor_, last); at != nullptr;
         at = NextAnchor(at + 1, last)) {
        if (matchesAt(static_cast<std::size_t>(at - bytes) - anchor_)) {
            return true;
        }
    }
    return false;
}

bool BehaviorQuery::KeepsAction(std::string_view action) const {
    if (actions.empty()) {
        return true;
    }
    for (const std::string& kept : actions) {
        if (kept == action) {
            return true;
        }
    }
    return false;
}

bool BehaviorQuery::Matches(const BehaviorRecord& behavior) const {
    if (!KeepsAction(behavior.action())) {
        return false;
    }
    const std::string_view info = behavior.info();
    if (pattern.FoundIn(info)) {
        return true;
    }
    // Most behaviours have no detail of their own: it is the info itself, already searched.
    const std::string_view detail = behavior.detail();
    return detail.data() != info.data() && pattern.FoundIn(detail);
}

bool ProcessMatches(const ProcessRecord& process, const SearchPattern& pattern) {
    if (pattern.FoundIn(process.name) || pattern.FoundIn(process.imagePath) ||
        pattern.FoundIn(process.commandLine)) {
        return true;
    }
    for (const BehaviorRecord& behavior : process.behaviors) {
        const std::string_view info = behavior.info();
        if (pattern.FoundIn(info)) {
            return true;
        }
        const std::string_view detail = behavior.detail();
        if (detail.data() != info.data() && pattern.FoundIn(detail)) {
            return true;
        }
    }
    return false;
}
