// KilnUI's zlib (RFC 1950) and DEFLATE (RFC 1951) decoder, used for the
// image data of PNG pictures. Every failure is one fixed English message
// (the list is at the top of inflate.cpp) and leaves the output empty.
//
// Pictures come from the network, so the decoder never trusts the stream:
// the caller can name the most output it accepts, and decoding stops as
// soon as the stream would go past it instead of filling memory first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiln {

// A whole zlib stream to its uncompressed bytes. No limit on the output
// beyond what memory allows: for data from outside use the form below.
bool inflateZlib(const uint8_t* bytes, size_t length, std::vector<uint8_t>& out, std::string& error);

// The same, but a stream that would produce more than `maxOutput` bytes is
// refused with "the image data is the wrong size" as soon as it gets there.
bool inflateZlib(const uint8_t* bytes, size_t length, size_t maxOutput, std::vector<uint8_t>& out,
                 std::string& error);

// How many bytes past `capacity` inflateZlibInto may scribble on (it copies
// matches in whole machine words).
constexpr size_t kInflateSlack = 64;

// Decodes into a caller's buffer of `capacity + kInflateSlack` bytes; a stream
// producing more than `capacity` bytes is refused as the wrong size. On success
// `produced` is the number of bytes written. The PNG decoder uses this to
// inflate straight into a buffer of the exact size the header implies.
bool inflateZlibInto(const uint8_t* bytes, size_t length, uint8_t* dst, size_t capacity, size_t& produced,
                     std::string& error);

// Adler-32 as zlib defines it (starts at 1), exposed for tests.
uint32_t adler32(const uint8_t* bytes, size_t length, uint32_t adler = 1);

}  // namespace kiln
