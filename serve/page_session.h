// The farm page's sessions: the owner opens /?token=TOKEN once; the answer sets a session
// cookie (HttpOnly, SameSite=Strict) and sends the browser to the same address without the
// token, so the token leaves the address bar and the history. Each session has its own CSRF
// token, which the page sends in a header with every POST: a form or fetch of another site
// can carry the cookie but not that.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "serve/token.h"

namespace serve {

constexpr const char* kSessionCookie = "memufarm_session";
constexpr const char* kCsrfHeader = "X-CSRF-Token";
constexpr std::size_t kMostSessions = 64;

struct PageSession {
    std::string id;    // the cookie's value
    std::string csrf;  // what the page sends in kCsrfHeader
};

// The live sessions, the newest kMostSessions (an older one is forgotten: its page must open
// the address with the token again). Safe to use from several threads.
class SessionBook {
public:
    explicit SessionBook(RandomSource& random) : random_(random) {}

    // A new session; nothing when the random source failed.
    std::optional<PageSession> Open();
    bool Valid(std::string_view id) const;
    // The CSRF token of session `id`, when it is live.
    std::optional<std::string> CsrfOf(std::string_view id) const;
    // Whether `csrf` is the CSRF token of live session `id`.
    bool CsrfMatches(std::string_view id, std::string_view csrf) const;

private:
    RandomSource& random_;
    mutable std::mutex mutex_;
    std::deque<PageSession> sessions_;
};

// The Set-Cookie value of a session.
std::string SessionCookieHeader(const PageSession& session);

// The target without its token: "/?token=abc&x=1" is "/?x=1", "/?token=abc" is "/".
std::string WithoutToken(std::string_view target);

}  // namespace serve
