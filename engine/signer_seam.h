// Who signed a module file, as the parser asks it. The engine declares what it needs; the tools
// implement it (tools/signer.h) and the programs plug it in (AnalyzerSeams::signer).
#pragma once

#include <cstddef>
#include <string_view>

// The caller's result buffer: at most 259 bytes of name and a NUL.
inline constexpr std::size_t kSignerNameSize = 260;

class SignerLookup {
  public:
    virtual ~SignerLookup() = default;
    // The signer of the file at `path`, given as the engine keeps it (code page 936 bytes). 0:
    // `name` (kSignerNameSize bytes) holds the signer's name in code page 936, NUL-ended, cut on a
    // character boundary. -1 on every failure; `name` is then left exactly as it was.
    virtual int GetSystemPathSignerName(std::string_view path, char* name) = 0;
};
