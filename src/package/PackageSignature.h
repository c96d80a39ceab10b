#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace os {
class ReadAtFile;
}

// The maker's signature on a package archive, in minisign's format: the archive travels with
// "<its address>.minisig", made by the maker's secret key, and runs only when that file proves
// the very bytes about to be extracted came from the key built into this program.

using MinisignKeyId = std::array<unsigned char, 8>;

// A minisign public key: the base64 line of a minisign.pub file ("Ed", key id, Ed25519 key).
struct MinisignKey {
    MinisignKeyId keyId{};
    std::array<unsigned char, 32> publicKey{};
};

// The key of `base64Line` (blanks around it ignored); none when it is not one.
std::optional<MinisignKey> ParseMinisignKey(std::string_view base64Line);

// The key id as 16 upper-case hex digits, most significant byte first: the number minisign
// prints (without its leading zeros).
std::string KeyIdText(const MinisignKeyId& keyId);

// One .minisig file.
struct MinisignSignature {
    bool prehashed = false;  // "ED": signs BLAKE2b-512 of the file; "Ed": the file itself
    MinisignKeyId keyId{};
    std::array<unsigned char, 64> signature{};
    std::string trustedComment;  // signed together with `signature` by `globalSignature`
    std::array<unsigned char, 64> globalSignature{};
};

// A .minisig file holds at most this many bytes; anything longer is not one.
inline constexpr size_t kMostSignatureFileBytes = 16 * 1024;

// Reads a .minisig file: the line "untrusted comment: ...", the base64 signature line (two
// bytes of algorithm, eight of key id, 64 of signature), the line "trusted comment: ..." and
// the base64 global signature line; lines end in "\n" (any "\r" before it dropped), and only
// empty lines may follow. None when the text is anything else.
std::optional<MinisignSignature> ParseMinisig(std::string_view text);

enum class SignatureVerdict {
    Valid,
    OtherKey,    // signed by a key that is not this build's
    Forged,      // the signature does not match the bytes, or the trusted comment was changed
    Unreadable,  // the file could not be read whole
};

// Checks `signature` by `key` over the whole of `file`, reading it from the start through its
// own descriptor. Both signatures are checked: the one over the file (or over its BLAKE2b-512
// hash) and the global one over the signature and the trusted comment.
SignatureVerdict VerifyArchiveSignature(const MinisignKey& key, const MinisignSignature& signature,
                                        os::ReadAtFile& file);

// Why a verdict failed, for the log.
const char* SignatureVerdictText(SignatureVerdict verdict);
