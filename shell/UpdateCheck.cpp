#include "shell/UpdateCheck.h"

#include "tonemirror/UpdateServer.h"
#include "tonemirror/Version.h"

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <system_error>
#include <utility>

namespace tonemirror::shell {

namespace {

constexpr std::string_view kAnswerPrefix = "Tonemirror:";
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kTotalTimeoutSeconds = 60;

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The decimal number at the start of the text: optional leading white space and sign, then digits up
// to the first non-digit; 0 when there are none. Saturates instead of overflowing.
std::int64_t leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{INT_MAX} + 1);
    }
    value = negative ? -value : value;
    return std::clamp<std::int64_t>(value, INT_MIN, INT_MAX);
}

// What the transfer collects: the first kMaxUpdateAnswer bytes of the body.
struct Transfer {
    std::string body;
    bool full = false;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = kMaxUpdateAnswer - transfer->body.size();
    transfer->body.append(data, std::min(bytes, room));
    if (bytes >= room) {
        transfer->full = true;
        return 0; // enough: the rest of the answer is never looked at
    }
    return bytes;
}

// Frees the handle and the header list on every path out of the check.
struct CurlRequest {
    CURL* handle = nullptr;
    curl_slist* headers = nullptr;
    bool initialised = false;

    CurlRequest() {
        initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        if (initialised) {
            handle = curl_easy_init();
        }
    }
    ~CurlRequest() {
        curl_slist_free_all(headers);
        if (handle != nullptr) {
            curl_easy_cleanup(handle);
        }
        if (initialised) {
            curl_global_cleanup();
        }
    }
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;
};

} // namespace

LocalVersion programVersion() {
    return LocalVersion{static_cast<std::uint32_t>(TONEMIRROR_VERSION_MAJOR) * 65536u +
                            static_cast<std::uint32_t>(TONEMIRROR_VERSION_MINOR),
                        static_cast<std::uint32_t>(TONEMIRROR_VERSION_PATCH)};
}

UpdateServer defaultUpdateServer() {
    return UpdateServer{TONEMIRROR_UPDATE_HOST, 80};
}

std::string vendorWebSite() {
    return TONEMIRROR_WEB_SITE_URL;
}

UpdateResult classifyUpdateAnswer(std::string_view body, LocalVersion local) {
    std::string_view text = body.substr(0, std::min(body.size(), kMaxUpdateAnswer));
    text = text.substr(0, text.find('\0'));
    if (!text.starts_with(kAnswerPrefix)) {
        return UpdateResult::Error;
    }
    const std::string_view version = text.substr(kAnswerPrefix.size());

    const std::int64_t major = leadingNumber(version);
    std::int64_t minor = 0;
    std::int64_t build = 0;
    if (const auto dot = version.find('.'); dot != std::string_view::npos) {
        minor = static_cast<std::uint16_t>(leadingNumber(version.substr(dot + 1))); // 16 bits
        if (const auto dot2 = version.find('.', dot + 1); dot2 != std::string_view::npos) {
            build = leadingNumber(version.substr(dot2 + 1));
        }
    }

    // The marker is searched from the version's second character on.
    const auto colon = version.size() > 1 ? version.find(':', 1) : std::string_view::npos;
    if (colon == std::string_view::npos || version.substr(colon + 1, 2) != "OK") {
        return UpdateResult::Error;
    }
    // Packed in 64 bits so that an absurd major number cannot wrap round to an old version.
    const std::int64_t remote = major * 65536 + minor;
    const auto localPacked = static_cast<std::int64_t>(local.packed);
    if (remote < localPacked || (remote == localPacked && static_cast<std::int64_t>(local.build) >= build)) {
        return UpdateResult::UpToDate;
    }
    return UpdateResult::Present;
}

UpdateResult runUpdateCheck(const UpdateServer& server, LocalVersion local, bool firstCheck) {
    CurlRequest request;
    if (request.handle == nullptr) {
        return UpdateResult::Connection;
    }
    CURL* curl = request.handle;
    const std::string url = "http://" + server.host + (firstCheck ? "/version?new" : "/version");
    request.headers = curl_slist_append(nullptr, "Accept: text/*");
    if (request.headers != nullptr) {
        // Intermediate caches must not answer for the server.
        curl_slist* more = curl_slist_append(request.headers, "Pragma: no-cache");
        if (more != nullptr) {
            request.headers = more;
        }
    }
    Transfer transfer;
    bool ok = request.headers != nullptr;
    ok = ok && curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_PORT, static_cast<long>(server.port)) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tonemirror") == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_HTTPHEADER, request.headers) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTotalTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collectBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (!ok) {
        return UpdateResult::Connection;
    }

    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status == 0) {
        return UpdateResult::Connection; // never got a status line
    }
    if (status != 200) {
        return UpdateResult::Error;
    }
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.full)) {
        return UpdateResult::Connection; // the answer could not be read
    }
    return classifyUpdateAnswer(transfer.body, local);
}

std::thread startUpdateCheck(UpdateCallback callback, LocalVersion local, bool firstCheck,
                             UpdateServer server) {
    try {
        return std::thread([callback = std::move(callback), local, firstCheck, server = std::move(server)] {
            const UpdateResult result = runUpdateCheck(server, local, firstCheck);
            if (callback) {
                try {
                    callback(result);
                } catch (...) {
                    // Nothing on this thread can handle it; the result is simply lost.
                }
            }
        });
    } catch (const std::system_error&) {
        return {};
    }
}

AutomaticCheck automaticCheckDue(std::optional<std::uint32_t> checkUpdate,
                                 std::optional<std::uint32_t> lastUpdate, std::time_t now) {
    const std::uint32_t last = lastUpdate.value_or(0);
    AutomaticCheck check;
    check.firstCheck = last == 0;
    if (checkUpdate.value_or(1) != 1) {
        return check;
    }
    const std::time_t lastTime = static_cast<std::time_t>(last);
    std::tm lastDate{};
    std::tm today{};
    if (gmtime_r(&lastTime, &lastDate) == nullptr || gmtime_r(&now, &today) == nullptr) {
        check.due = true; // a clock that cannot be read must not stop the check for good
        return check;
    }
    check.due = lastDate.tm_year != today.tm_year || lastDate.tm_yday != today.tm_yday;
    return check;
}

UpdateResultText updateResultText(UpdateResult result) {
    switch (result) {
    case UpdateResult::Present:
        return {u"UPDATE_PRESENT", u"Update available, please visit web-site:"};
    case UpdateResult::Connection:
        return {u"UPDATE_CONNECTION", u"Can't connect to server,\nplease check your connection to Internet"};
    case UpdateResult::UpToDate:
        return {u"UPDATE_NO", u"No update available,\nYou software is up to date"};
    case UpdateResult::Error:
        break;
    }
    return {u"UPDATE_ERROR", u"Internal server error, please try again later..."};
}

} // namespace tonemirror::shell
