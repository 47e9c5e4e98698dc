// Fuzz entry point: the manifest signature reader, the trusted comment's
// grammar and the whole check over arbitrary bytes. A file the reader
// accepts has a one-line trusted comment; terms that parse name a real
// time; nothing but a signature by a pinned key over the bytes verifies.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/trust/signature.h"

using namespace ember::launcher::trust;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    SignatureFile sig;
    Failure read = readSignatureFile(text, sig);
    require(read.failed() == !read.message.empty());
    if (!read.failed()) {
        require(text.size() <= kMaxSignatureBytes);
        require(sig.trustedComment.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
    }

    // The bytes as a trusted comment.
    Terms terms;
    Failure parsed = parseTerms(text, terms);
    if (!parsed.failed()) {
        require(terms.expires >= 0);
        require(terms.expiresText.size() == 20 && terms.expiresText.back() == 'Z');
        require(text == "emberlane-manifest sequence=" + std::to_string(terms.sequence) + " expires=" +
                            terms.expiresText);
    } else {
        require(parsed.kind == FailureKind::badTerms);
    }

    // The bytes as the signature of a fixed manifest: a forgery never passes.
    Verified verified;
    Failure checked = verifyManifest("{\"schema\": 1}", text, pinnedKeys(), verified);
    require(checked.failed());
    return 0;
}
