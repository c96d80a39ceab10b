// What the maker's signature check adds to a package fetch: verifying a 200 MiB archive (both
// minisign forms, in this process, the way the workflow does before extracting) against
// downloading it over loopback (BenchNet fetch, a process per round, from a server in a process
// of its own), and against minisign -V verifying the same file. The ratio of the verification's
// CPU time to the download's is the extra CPU a signed package costs.
//   SignatureBench [rounds]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "os/ReadAtFile.h"
#include "package/PackageSignature.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBodySize = 200u << 20;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Verifies `archive` against `signature` the way the workflow does: through one open
// descriptor of the file.
bool Verify(const MinisignKey& key, const MinisignSignature& signature, const fs::path& archive) {
    os::ReadAtFile file;
    return file.Open(archive.string()) &&
           VerifyArchiveSignature(key, signature, file) == SignatureVerdict::Valid;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::string pattern = (fs::temp_directory_path() / "signature-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    const fs::path root = pattern;
    const fs::path served = root / "served", archive = served / "pkg.zip";
    fs::create_directories(served);
    {
        std::vector<char> body(kBodySize);
        for (size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>((i * 2654435761u) >> 24);
        std::ofstream(archive, std::ios::binary)
            .write(body.data(), static_cast<std::streamsize>(body.size()));
    }
    const std::string pub = (root / "key.pub").string(), sec = (root / "key.sec").string();
    const std::string legacySig = (root / "legacy.minisig").string();
    if (!Shell("minisign -G -W -p " + pub + " -s " + sec) ||
        !Shell("minisign -S -s " + sec + " -m " + archive.string()) ||
        !Shell("minisign -S -l -s " + sec + " -m " + archive.string() + " -x " + legacySig)) {
        std::fprintf(stderr, "minisign could not make the key and signatures\n");
        return 1;
    }
    const std::string pubText = ReadText(pub);
    const auto key = ParseMinisignKey(pubText.substr(pubText.find('\n') + 1));
    const auto prehashed = ParseMinisig(ReadText(archive.string() + ".minisig"));
    const auto legacy = ParseMinisig(ReadText(legacySig));
    bench::FileServer server(served.string());
    if (!key || !prehashed || !legacy || !server.Ok()) {
        std::fprintf(stderr, "the key, a signature or the loopback server is not there\n");
        return 1;
    }
    const std::string url = server.Url("pkg.zip");
    const fs::path fetched = root / "fetched";
    const auto download = [&] {
        fs::remove_all(fetched);
        return bench::RunChild({bench::BenchNet(), "fetch", url, fetched.string()});
    };
    const auto verify = [&](const MinisignSignature& signature) {
        return [&] { return bench::RunHere([&] { return Verify(*key, signature, archive); }); };
    };
    const auto against = bench::Alternate(rounds, verify(*prehashed), download);
    const auto legacyAgainst = bench::Alternate(rounds, verify(*legacy), download);
    const auto peer = bench::Alternate(rounds, verify(*prehashed), [&] {
        return bench::RunChild({"minisign", "-V", "-q", "-p", pub, "-m", archive.string()});
    });
    fs::remove_all(root);
    if (!against || !legacyAgainst || !peer) {
        std::fprintf(stderr, "a verification or a transfer failed\n");
        return 1;
    }
    bench::Print("signature check (BLAKE2b-512 form) of 200 MiB vs its download over loopback",
                 "verify ED", "BenchNet fetch", *against);
    bench::Print("signature check (legacy form) of 200 MiB vs its download over loopback",
                 "verify Ed (legacy)", "BenchNet fetch", *legacyAgainst);
    bench::Print("signature check (BLAKE2b-512 form) of 200 MiB vs minisign -V", "verify ED",
                 "minisign -V", *peer);
    return 0;
}
