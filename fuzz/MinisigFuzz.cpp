// Signature files as a hostile server sends them: the .minisig reader, its round trip, and the
// check of whatever it accepts against a fixed key and archive, which must never pass.
//
// Input: the signature file's text.
#include "os/ReadAtFile.h"
#include "package/PackageSignature.h"

#include <sodium.h>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "signature file property broken: %s\n", what);
    std::abort();
}

std::string Base64(const unsigned char* bytes, size_t size) {
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // the terminating NUL
    return text;
}

// The text minisign would write for `parsed`.
std::string Written(const MinisignSignature& parsed) {
    unsigned char line[74];
    line[0] = 'E';
    line[1] = parsed.prehashed ? 'D' : 'd';
    std::copy(parsed.keyId.begin(), parsed.keyId.end(), line + 2);
    std::copy(parsed.signature.begin(), parsed.signature.end(), line + 10);
    return "untrusted comment: x\n" + Base64(line, sizeof line) +
           "\ntrusted comment: " + parsed.trustedComment + "\n" +
           Base64(parsed.globalSignature.data(), parsed.globalSignature.size()) + "\n";
}

// A fixed archive on disk, opened once.
os::ReadAtFile& Archive() {
    static os::ReadAtFile* file = [] {
        char path[] = "/tmp/fuzz-minisig-XXXXXX";
        const int fd = mkstemp(path);
        Require(fd >= 0 && write(fd, "PK\5\6 the archive", 17) == 17, "no scratch archive");
        close(fd);
        auto* opened = new os::ReadAtFile;
        Require(opened->Open(path), "the scratch archive does not open");
        unlink(path);
        return opened;
    }();
    return *file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = ParseMinisig(text);
    (void)ParseMinisignKey(text);
    if (!parsed) return 0;
    Require(size <= kMostSignatureFileBytes, "an oversized file was read");
    Require(parsed->trustedComment.find('\n') == std::string::npos, "a comment spans lines");
    const auto again = ParseMinisig(Written(*parsed));
    Require(again && again->prehashed == parsed->prehashed && again->keyId == parsed->keyId &&
                again->signature == parsed->signature &&
                again->trustedComment == parsed->trustedComment &&
                again->globalSignature == parsed->globalSignature,
            "a written signature reads differently");
    // Whatever the input claims, it was not made by this key's secret half.
    MinisignKey key;
    key.keyId = parsed->keyId;
    for (size_t i = 0; i < key.publicKey.size(); ++i)
        key.publicKey[i] = static_cast<unsigned char>(i * 7 + 1);
    Require(VerifyArchiveSignature(key, *parsed, Archive()) != SignatureVerdict::Valid,
            "a forged signature passed");
    return 0;
}
