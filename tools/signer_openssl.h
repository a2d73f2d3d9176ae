// The OpenSSL signer lookup over bytes already in memory, so that tests can feed it every prefix
// and every damaged variant of a signed file without writing each to disk.
#pragma once

#include <cstddef>

// GetFileSignerName for a file whose whole content is `bytes`.
int SignerNameFromImage(const unsigned char* bytes, std::size_t length, char* name);
