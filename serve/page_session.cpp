#include "serve/page_session.h"

namespace serve {

std::optional<PageSession> SessionBook::Open() {
    std::optional<std::string> id = NewToken(random_);
    std::optional<std::string> csrf = NewToken(random_);
    if (!id || !csrf) return std::nullopt;
    PageSession session{std::move(*id), std::move(*csrf)};
    std::lock_guard lock(mutex_);
    sessions_.push_back(session);
    while (sessions_.size() > kMostSessions) sessions_.pop_front();
    return session;
}

bool SessionBook::Valid(std::string_view id) const {
    return CsrfOf(id).has_value();
}

std::optional<std::string> SessionBook::CsrfOf(std::string_view id) const {
    std::lock_guard lock(mutex_);
    // Every live session is compared whole, so the time tells nothing of which one was near.
    std::optional<std::string> found;
    for (const PageSession& session : sessions_)
        if (SameSecret(id, session.id)) found = session.csrf;
    return found;
}

bool SessionBook::CsrfMatches(std::string_view id, std::string_view csrf) const {
    const std::optional<std::string> expected = CsrfOf(id);
    return expected && !csrf.empty() && SameSecret(csrf, *expected);
}

std::string SessionCookieHeader(const PageSession& session) {
    return std::string(kSessionCookie) + "=" + session.id + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string WithoutToken(std::string_view target) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) return std::string(target);
    std::string kept;
    std::string_view rest = target.substr(question + 1);
    while (!rest.empty()) {
        const std::size_t end = rest.find('&');
        const std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (pair.empty() || pair.substr(0, pair.find('=')) == "token") continue;
        if (!kept.empty()) kept += '&';
        kept.append(pair);
    }
    std::string path(target.substr(0, question));
    if (!kept.empty()) {
        path += '?';
        path += kept;
    }
    return path;
}

}  // namespace serve
