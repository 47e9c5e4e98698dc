// Protection of the saved sign-in with the Data Protection API: the blob can
// be read back only by the same Windows user.
#include <windows.h>
#include <wincrypt.h>

#include "launcher/account/signin.h"

namespace ember::launcher::account {

namespace {

DATA_BLOB blobOf(const std::string& bytes) {
    DATA_BLOB blob;
    blob.cbData = DWORD(bytes.size());
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
    return blob;
}

// Copies and releases what the API allocated.
std::string takeBlob(DATA_BLOB& blob) {
    std::string bytes(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
    LocalFree(blob.pbData);
    return bytes;
}

}  // namespace

bool protectForUser(const std::string& plain, std::string& blob) {
    DATA_BLOB in = blobOf(plain);
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"Emberlane sign-in", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return false;
    }
    blob = takeBlob(out);
    return true;
}

bool unprotectForUser(const std::string& blob, std::string& plain) {
    DATA_BLOB in = blobOf(blob);
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        return false;
    }
    plain = takeBlob(out);
    return true;
}

}  // namespace ember::launcher::account
