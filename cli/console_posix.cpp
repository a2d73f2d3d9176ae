#include <iconv.h>

#include <string>
#include <vector>

#include "cli/console.h"
#include "tools/iconv_convert.h"

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
        IconvAppend(cd_, bytes, out, kReplacement);
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
    // Fails on invalid or cut-off UTF-8, or a character CP936 cannot write.
    const bool ok = IconvAppend(cd, text, out, std::string_view());
    iconv_close(cd);
    if (ok) {
        gbk = std::move(out);
    }
    return ok;
}
