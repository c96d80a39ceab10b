#include "package/PackageSignature.h"

#include <sodium.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "os/ReadAtFile.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr std::string_view kKeyAlgorithm = "Ed";
constexpr std::string_view kLegacyAlgorithm = "Ed";
constexpr std::string_view kPrehashedAlgorithm = "ED";
constexpr size_t kKeyBytes = 2 + 8 + 32;
constexpr size_t kSignatureLineBytes = 2 + 8 + 64;
constexpr size_t kHashBytes = crypto_generichash_BYTES_MAX;  // 64: BLAKE2b-512
// The hash reads the archive in pieces this large: few system calls, little memory.
constexpr size_t kHashPiece = 1 << 20;

// The bytes of a base64 text (standard alphabet, with its padding) that must decode to exactly
// `size` bytes; none otherwise.
std::optional<std::vector<unsigned char>> DecodeExactly(std::string_view text, size_t size) {
    if (text.size() != sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL) - 1)
        return std::nullopt;
    std::vector<unsigned char> bytes(size);
    size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                          &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != size || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return bytes;
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Splits off the next line (its "\n" and every "\r" before it dropped, as minisign reads
// lines); false at the end of the text.
bool NextLine(std::string_view& rest, std::string_view& line) {
    if (rest.empty()) return false;
    const auto end = rest.find('\n');
    line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

bool Initialised() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// BLAKE2b-512 of the whole file, read in order through its descriptor.
std::optional<std::array<unsigned char, kHashBytes>> HashOfFile(os::ReadAtFile& file) {
    crypto_generichash_state state;
    if (crypto_generichash_init(&state, nullptr, 0, kHashBytes) != 0) return std::nullopt;
    const auto piece = std::make_unique_for_overwrite<unsigned char[]>(kHashPiece);
    for (uint64_t at = 0; at < file.size();) {
        const auto want = static_cast<size_t>(std::min<uint64_t>(kHashPiece, file.size() - at));
        const size_t got = file.ReadThrough(at, piece.get(), want);
        if (got != want) return std::nullopt;
        crypto_generichash_update(&state, piece.get(), got);
        at += got;
    }
    std::array<unsigned char, kHashBytes> hash{};
    if (crypto_generichash_final(&state, hash.data(), hash.size()) != 0) return std::nullopt;
    return hash;
}

// The legacy form signs the file itself, which Ed25519 takes in one piece: the file is mapped
// rather than copied.
SignatureVerdict VerifyWhole(const MinisignKey& key, const MinisignSignature& signature,
                             os::ReadAtFile& file) {
    static const unsigned char kNothing = 0;
    const unsigned char* bytes = file.size() == 0 ? &kNothing : file.Map();
    if (bytes == nullptr) return SignatureVerdict::Unreadable;
    return crypto_sign_verify_detached(signature.signature.data(), bytes, file.size(),
                                       key.publicKey.data()) == 0
               ? SignatureVerdict::Valid
               : SignatureVerdict::Forged;
}

}  // namespace

std::optional<MinisignKey> ParseMinisignKey(std::string_view base64Line) {
    const auto bytes = DecodeExactly(Trimmed(base64Line), kKeyBytes);
    if (!bytes ||
        std::string_view(reinterpret_cast<const char*>(bytes->data()), 2) != kKeyAlgorithm)
        return std::nullopt;
    MinisignKey key;
    std::copy_n(bytes->begin() + 2, key.keyId.size(), key.keyId.begin());
    std::copy_n(bytes->begin() + 10, key.publicKey.size(), key.publicKey.begin());
    return key;
}

std::string KeyIdText(const MinisignKeyId& keyId) {
    // minisign stores the id little-endian and prints it as a number.
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
        text += kDigits[*byte >> 4];
        text += kDigits[*byte & 0xF];
    }
    return text;
}

std::optional<MinisignSignature> ParseMinisig(std::string_view text) {
    if (text.size() > kMostSignatureFileBytes) return std::nullopt;
    std::string_view rest = text, untrusted, line, trusted, global;
    if (!NextLine(rest, untrusted) || !NextLine(rest, line) || !NextLine(rest, trusted) ||
        !NextLine(rest, global)) {
        return std::nullopt;
    }
    if (!untrusted.starts_with(kUntrustedPrefix) || !trusted.starts_with(kTrustedPrefix))
        return std::nullopt;
    for (std::string_view more; NextLine(rest, more);) {
        if (!more.empty()) return std::nullopt;
    }
    const auto signatureLine = DecodeExactly(line, kSignatureLineBytes);
    const auto globalLine = DecodeExactly(global, 64);
    if (!signatureLine || !globalLine) return std::nullopt;
    const std::string_view algorithm(reinterpret_cast<const char*>(signatureLine->data()), 2);
    if (algorithm != kPrehashedAlgorithm && algorithm != kLegacyAlgorithm) return std::nullopt;
    MinisignSignature parsed;
    parsed.prehashed = algorithm == kPrehashedAlgorithm;
    std::copy_n(signatureLine->begin() + 2, parsed.keyId.size(), parsed.keyId.begin());
    std::copy_n(signatureLine->begin() + 10, parsed.signature.size(), parsed.signature.begin());
    parsed.trustedComment = std::string(trusted.substr(kTrustedPrefix.size()));
    std::copy(globalLine->begin(), globalLine->end(), parsed.globalSignature.begin());
    return parsed;
}

SignatureVerdict VerifyArchiveSignature(const MinisignKey& key, const MinisignSignature& signature,
                                        os::ReadAtFile& file) {
    if (!Initialised()) return SignatureVerdict::Unreadable;
    if (signature.keyId != key.keyId) return SignatureVerdict::OtherKey;
    // The trusted comment first: it is short, and a changed one needs no pass over the archive.
    std::vector<unsigned char> signedComment(signature.signature.begin(),
                                             signature.signature.end());
    signedComment.insert(signedComment.end(), signature.trustedComment.begin(),
                         signature.trustedComment.end());
    if (crypto_sign_verify_detached(signature.globalSignature.data(), signedComment.data(),
                                    signedComment.size(), key.publicKey.data()) != 0) {
        return SignatureVerdict::Forged;
    }
    if (!signature.prehashed) return VerifyWhole(key, signature, file);
    const auto hash = HashOfFile(file);
    if (!hash) return SignatureVerdict::Unreadable;
    return crypto_sign_verify_detached(signature.signature.data(), hash->data(), hash->size(),
                                       key.publicKey.data()) == 0
               ? SignatureVerdict::Valid
               : SignatureVerdict::Forged;
}

const char* SignatureVerdictText(SignatureVerdict verdict) {
    switch (verdict) {
        case SignatureVerdict::Valid:
            return "valid";
        case SignatureVerdict::OtherKey:
            return "signed by another key";
        case SignatureVerdict::Forged:
            return "the signature does not match the archive or its trusted comment";
        case SignatureVerdict::Unreadable:
            return "the archive could not be read whole";
    }
    return "";
}
