// What each fuzz target does with one input, shared by the fuzz targets and the test that replays
// the inputs that once broke them. Each returns an empty text when the input was handled soundly,
// otherwise what went wrong; a crash or an out-of-bounds read shows under the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class LogAnalyzer;

// The lines of the input (cut at LF, a CR before it dropped) parsed one by one into a store, which
// must then be a sound tree.
std::string FuzzParseLines(const uint8_t* data, std::size_t size);

// The input's head chooses read sizes and the points at which the file grows; the rest is the log,
// followed pass by pass. The store must end up as a one-shot parse of the log.
std::string FuzzFollowerChunks(const uint8_t* data, std::size_t size);

// The input's head is the drive list and device targets a platform might answer; the rest is the
// path converted.
std::string FuzzDevicePath(const uint8_t* data, std::size_t size);

// The input is the start of a file whose size the first byte stretches.
std::string FuzzFeatureCode(const uint8_t* data, std::size_t size);

#ifndef _WIN32
// The input is a whole file handed to the signer lookup's certificate-table and PKCS#7 reader.
std::string FuzzSignerImage(const uint8_t* data, std::size_t size);
#endif

// The store's shape: every record reachable once from the roots (so no cycles and no record in two
// lists), ids unique, and FindProcess agreeing with a pre-order walk. Empty when sound.
std::string CheckStoreInvariants(LogAnalyzer& analyzer);
