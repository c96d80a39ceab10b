#include "web/AddressProbe.h"

#include "base/LoopbackOwner.h"
#include "web/CurlHandles.h"
#include "web/HttpClient.h"

namespace {

size_t DiscardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

}  // namespace

ProbeOutcome ProbeAddress(const std::string& url) {
    // Checked before anything connects; the transfer's own check covers redirects.
    if (AnotherUserServes(url)) return ProbeOutcome::Refused;
    if (!EnsureCurlReady()) return ProbeOutcome::Offline;
    CurlEasy easy(curl_easy_init());
    CurlHeaderList headers;
    if (!easy || !AppendHeader(headers, "Accept: */*")) return ProbeOutcome::Offline;
    const std::string wireUrl = UrlForWire(url);
    SetWebTransferOptions(easy.get(), wireUrl.c_str(), headers.get(), 15L);
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 15L);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &DiscardBody);
    const CURLcode result = curl_easy_perform(easy.get());
    if (RefusedAsAnotherUsers(easy.get())) return ProbeOutcome::Refused;
    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return result == CURLE_OK && status >= 200 && status < 400 ? ProbeOutcome::Answered
                                                               : ProbeOutcome::Offline;
}

const char* ProbeOutcomeName(ProbeOutcome outcome) {
    switch (outcome) {
        case ProbeOutcome::Answered:
            return "ok";
        case ProbeOutcome::Refused:
            return "refused";
        case ProbeOutcome::Offline:
            break;
    }
    return "offline";
}
