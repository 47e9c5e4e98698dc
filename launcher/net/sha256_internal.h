// Internals of the SHA-256 module, shared by its source files, its tests and
// its benchmark. Nothing else in the program should include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ember::launcher::sha256_detail {

// Compresses `blocks` consecutive 64-byte blocks into the chaining words.
using CompressFn = void (*)(uint32_t state[8], const uint8_t* data, size_t blocks);

// The plain C++ compression: every processor runs it.
void compressPortable(uint32_t state[8], const uint8_t* data, size_t blocks);

// The compression on the x86 SHA extensions; call it only when
// cpuHasShaExtensions() is true (which any processor may be asked).
void compressShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks);
bool cpuHasShaExtensions();

// Which compression Sha256 uses. The fastest one the processor has is chosen
// at first use; tests and the benchmark switch engines to check and measure
// both. Engines give identical results, so switching while other threads
// hash changes only their speed.
enum class Engine { portable, shaExtensions };
// False (and nothing changes) when the processor lacks that engine.
bool useEngine(Engine engine);
Engine currentEngine();
// Back to the automatic choice.
void useBestEngine();

// Opens a file for binary reading from a UTF-8 path (UTF-16 on Windows);
// null when it cannot be opened.
FILE* openForReading(const std::string& utf8Path);

}  // namespace ember::launcher::sha256_detail
