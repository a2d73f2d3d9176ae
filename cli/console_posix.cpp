#include <errno.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "cli/console.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Holds one conversion descriptor for the process's lifetime.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts what it can; invalid input bytes become U+FFFD one at a time.
    void Append(std::string_view bytes, std::string& out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            out.append(bytes);
            return;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof(buffer);
            const std::size_t rc = iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                // EILSEQ or a character cut off at the end: replace one byte and go on.
                out.append(kReplacement);
                ++in;
                --inLeft;
                iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            }
        }
    }

  private:
    iconv_t cd_;
};

}  // namespace

void PrepareConsoleOutput() {}

void AppendGbkAsUtf8(std::string_view bytes, std::string& out) {
    static thread_local Converter converter("UTF-8", "CP936");
    converter.Append(bytes, out);
}

std::string PathArgumentAsUtf8(std::string_view path) {
    // Paths arrive in the locale's encoding, UTF-8 on any current system; keep the output valid.
    static thread_local Converter converter("UTF-8", "UTF-8");
    std::string out;
    converter.Append(path, out);
    return out;
}

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
    // The locale's encoding, UTF-8 on any current system: what PathArgumentAsUtf8 assumes too.
    return std::vector<std::string>(argv, argv + argc);
}

bool Utf8ToGbk(std::string_view text, std::string& gbk) {
    const iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string out;
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char buffer[4096];
        char* outPtr = buffer;
        std::size_t outLeft = sizeof(buffer);
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            ok = false;  // invalid or cut-off UTF-8, or a character CP936 cannot write
            break;
        }
    }
    iconv_close(cd);
    if (ok) {
        gbk = std::move(out);
    }
    return ok;
}
