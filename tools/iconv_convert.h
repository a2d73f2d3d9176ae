// The one conversion loop over iconv, for the code page 936 conversions off Windows (the CLI's
// output and patterns, the signer lookup's paths).
#pragma once

#include <errno.h>
#include <iconv.h>

#include <string>
#include <string_view>

// Converts all of `bytes` with `cd` (reset first), appending to `out`. A byte that begins no
// character, or a character cut off at the end, is replaced by `replacement` and skipped; with no
// replacement it ends the conversion and the result is false (what was converted before it is
// appended all the same).
template <typename Char>
bool IconvAppend(iconv_t cd, std::string_view bytes, std::basic_string<Char>& out,
                 std::basic_string_view<Char> replacement) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    Char buffer[4096 / sizeof(Char)];
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer);
        std::size_t outLeft = sizeof(buffer);
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(reinterpret_cast<Char*>(outPtr) - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            if (replacement.empty()) {
                return false;
            }
            out.append(replacement);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}
