// One HTTP(S) GET of a short text into the caller's buffer.
#pragma once

#include <string>

// Sent as the User-Agent of every request.
inline constexpr char kFetchUserAgent[] = "Mozilla";

// Waiting limits. The start-up waits for the answer, so a server that
// accepts and then says nothing must not hold the window forever.
struct FetchLimits {
    long connectMs = 30000;  // to open the connection (name look-up included)
    long idleSeconds = 30;   // below one byte a second (curl averages over a few seconds)
    long totalMs = 120000;   // for the whole request, redirects included
};

// Prepares the network library, once per run: 1 when it has nothing to do or
// the preparation succeeded, 0 when it failed. FetchUrl calls it first.
int AttemptConnectOnce();

// GET url (http or https only; redirects are followed) and store up to
// capacity bytes of the body in buffer, which is not zero-terminated.
// *count receives the number of bytes stored. Returns the HTTP status / 100
// (2 for a 2xx answer, 3, 4 or 5 for the others), or 0 when the request could
// not be made or the transfer broke off (then *count holds what had arrived).
// A body longer than capacity is cut there and still counts as a success.
int FetchUrl(const std::string& url, char* buffer, unsigned* count, unsigned capacity,
             const FetchLimits& limits = {});
