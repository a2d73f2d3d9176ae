#include "engine/text.h"

#include <algorithm>
#include <cstring>

void SplitKeepEmpty(std::string_view text, char separator, std::vector<std::string_view>& pieces) {
    pieces.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::size_t SplitAtMost(std::string_view text, char separator, std::string_view* pieces,
                        std::size_t count) {
    std::size_t n = 0;
    for (;;) {
        if (n == count) {
            return count + 1;  // a separator was passed, so another piece follows
        }
        const std::size_t end = text.find(separator);
        if (end == std::string_view::npos) {
            pieces[n++] = text;
            return n;
        }
        pieces[n++] = text.substr(0, end);
        text.remove_prefix(end + 1);
    }
}

uint32_t ParseNumber(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    return value;
}

std::size_t GbkPrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text.size();
    }
    std::size_t pos = 0;
    while (pos < maxBytes) {
        const std::size_t step = GbkCharLength(text, pos);
        if (pos + step > maxBytes) {
            break;
        }
        pos += step;
    }
    return pos;
}

void CopyToBuffer(char* buffer, std::size_t size, std::string_view text) {
    if (size == 0) {
        return;
    }
    // A NUL inside the text ends it, as it would end the C string the buffer holds.
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    const std::size_t length = GbkPrefixLength(text, size - 1);
    std::memcpy(buffer, text.data(), length);
    std::memset(buffer + length, 0, size - length);
}

bool EqualsNoCaseMultibyte(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); i += GbkCharLength(a, i)) {
        if (GbkCharLength(a, i) == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) {
                return false;
            }
        } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}
