#include "net/fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct BodySink {
    char* buffer = nullptr;
    size_t capacity = 0;
    size_t count = 0;
    bool full = false;  // the body went on past the capacity
};

size_t StoreBody(char* data, size_t size, size_t n, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t bytes = size * n;
    const size_t take = std::min(bytes, sink->capacity - sink->count);
    if (take > 0) {
        std::memcpy(sink->buffer + sink->count, data, take);
        sink->count += take;
    }
    // Taking less than offered ends the transfer: the caller has all it wants.
    if (take < bytes) sink->full = true;
    return take;
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

int AttemptConnectOnce() {
    static std::once_flag once;
    int result = 1;
    std::call_once(once, [&result] { result = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK ? 1 : 0; });
    return result;
}

int FetchUrl(const std::string& url, char* buffer, unsigned* count, unsigned capacity, const FetchLimits& limits) {
    unsigned ignored = 0;
    if (count == nullptr) count = &ignored;
    *count = 0;
    if (buffer == nullptr) capacity = 0;
    AttemptConnectOnce();

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return 0;
    CURL* h = easy.get();

    // Always the server's answer, never a proxy's stored copy.
    std::unique_ptr<curl_slist, ListDeleter> headerList;
    for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
        curl_slist* head = curl_slist_append(headerList.get(), line);
        if (head == nullptr) return 0;
        if (!headerList) headerList.reset(head);
    }

    BodySink sink{.buffer = buffer, .capacity = capacity};
    bool set = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_USERAGENT, kFetchUserAgent) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get()) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
    // Only the web: neither a typed address nor a redirect may reach file:// or others.
#if LIBCURL_VERSION_NUM >= 0x075500
    set = set && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
#else
    set = set && curl_easy_setopt(h, CURLOPT_PROTOCOLS, long{CURLPROTO_HTTP | CURLPROTO_HTTPS}) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS, long{CURLPROTO_HTTP | CURLPROTO_HTTPS}) == CURLE_OK;
#endif
    // No signals: the program has threads of its own.
    set = set && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limits.totalMs) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, limits.idleSeconds) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, StoreBody) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (!set) return 0;

    const CURLcode rc = curl_easy_perform(h);
    *count = static_cast<unsigned>(sink.count);
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && sink.full)) return 0;

    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK || status <= 0) status = 400;
    return static_cast<int>(status / 100);
}
