// Who signed an executable file: the simple display name of the certificate that made the code
// signature embedded in the file. Only the name is produced; the signature is not verified (no
// hash, no chain, no revocation), so a broken or expired signature still names its signer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "engine/signer_seam.h"

// Reads signer record 0 of the file's embedded PKCS#7 signature and finds that signer's
// certificate, by issuer and serial number, among the certificates the signature carries.
// 0: `name` (kSignerNameSize bytes) holds the certificate's simple display name in code page 936,
// NUL-ended, cut on a character boundary. -1 on every failure (null path or buffer, unreadable
// file, not a PE, no embedded signature, signer certificate not carried, undecodable data); `name`
// is then left exactly as it was. `path` is wide: UTF-16 on Windows. Keeps no state between calls.
// Implemented with the platform's certificate services on Windows and with OpenSSL elsewhere.
int GetFileSignerName(const wchar_t* path, char* name);

// A path as the engine keeps it (system code page, 936 on the systems the logs come from) in the
// wide form the lookup takes. Off Windows the bytes are read as code page 936.
std::wstring WidenSystemPath(std::string_view path);

// The engine's signer seam for files named in wide form too, so that tests can stand in for the
// platform's lookup and a cache can wrap it.
class FileSignerLookup : public SignerLookup {
  public:
    // The contract of the free GetFileSignerName above.
    virtual int GetFileSignerName(const wchar_t* path, char* name) = 0;
    // The same for a path as the engine keeps it (WidenSystemPath's input). A cache answers a
    // path it knows without converting it.
    int GetSystemPathSignerName(std::string_view path, char* name) override {
        return GetFileSignerName(WidenSystemPath(path).c_str(), name);
    }
};

// The free function above, uncached.
std::shared_ptr<FileSignerLookup> MakePlatformSignerLookup();

// Remembers each answer of `inner` by path together with the file's size and last-write time, and
// asks `inner` again when either has changed. The answer differs from an uncached one only for a
// file rewritten in place with the same size within the same timestamp. A file whose size and
// time cannot be read fails at once (-1), without asking `inner`, and is not looked at again for
// `missingRecheckMs`: a module file that appears within that time after a failed lookup is still
// taken as missing. So is every file of a folder found missing, for that time after the folder was
// looked at (once, at the first missing file of it). At most `capacity` paths of each kind are
// kept; when that is reached the cache starts afresh. Paths given in the system code page are
// remembered as they are, and converted only when the file system must be asked. `clock` (null: the
// steady clock) times the recheck. Safe to call from several threads.
using SignerClock = std::function<std::chrono::steady_clock::time_point()>;
std::shared_ptr<FileSignerLookup> MakeCachedSignerLookup(std::shared_ptr<FileSignerLookup> inner,
                                                         std::size_t capacity = 16384,
                                                         uint32_t missingRecheckMs = 1000,
                                                         SignerClock clock = nullptr);

// What the programs plug into the analyzer: the platform's lookup, cached as above.
std::shared_ptr<FileSignerLookup> MakeModuleSignerLookup();

// A path as main() received it (the system code page on Windows, the locale's UTF-8 elsewhere) in
// the wide form the lookup takes.
std::wstring WidenArgumentPath(std::string_view path);

// What a look for the signer of a file named on a command line found.
enum class SignerStatus {
    kNamed,
    kDirectory,           // the path names a folder
    kUnreadable,          // the file cannot be opened; `systemError` says why
    kNotPe,               // no "MZ", or no "PE\0\0" where its header points
    kNoSignerCertificate  // a PE file without an embedded signature that carries its signer's
};
struct SignerResult {
    SignerStatus status = SignerStatus::kUnreadable;
    std::string name;         // kNamed: the signer's name, code page 936
    std::string systemError;  // kUnreadable: what the system said
};

// The signer of the file at `path` (as main() received it), or why it has none. The lookup itself
// only says that a file has no name; the reason is read from the file afterwards.
SignerResult LookUpSigner(const std::string& path);

// A short English reason, such as "not a PE file"; for kUnreadable the system's own words; empty
// for kNamed.
std::string SignerReasonText(const SignerResult& result);
