#include "serve/page_service.h"

#include "serve/page_files.h"

namespace serve {
namespace {

PageReply Text(int status, std::string message) {
    PageReply reply;
    reply.status = status;
    reply.content_type = "text/plain; charset=utf-8";
    reply.verdict = message;
    reply.body = std::move(message) + "\n";
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

std::string_view PathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

}  // namespace

std::optional<std::int64_t> QueryNumber(std::string_view target, std::string_view name) {
    const std::optional<std::string> text = QueryValue(target, name);
    if (!text || text->empty() || text->size() > 10) return std::nullopt;
    std::int64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 0x7FFFFFFF) return std::nullopt;
    return value;
}

PageService::PageService(PageSettings settings, CapturePace pace, RandomSource& random)
    : sessions_(random), state_(settings), watch_(pace.interval_s), schedule_(pace) {}

PageReply PageService::Answer(const RequestHead& request, const DoorDecision& decision,
                              double now) {
    if (!decision.door) return Text(404, "no such path");
    switch (*decision.door) {
        case Door::kPage:
            return Page(request, decision);
        case Door::kPageFile: {
            const PageFile* file = FindPageFile(PathOf(request.target));
            if (!file) return Text(404, "no such file");
            PageReply reply;
            reply.content_type = file->content_type;
            reply.body = std::string(file->bytes);
            reply.headers.emplace_back("Cache-Control", "no-cache");
            return reply;
        }
        case Door::kPageState:
            return State(request, now);
        case Door::kPageImage:
            return Image(request);
        default:
            return Text(404, "no such path");
    }
}

PageReply PageService::Page(const RequestHead& request, const DoorDecision& decision) {
    if (decision.by == Admitted::kSession) {
        const std::optional<std::string> csrf = sessions_.CsrfOf(decision.session);
        if (!csrf) return Text(401, "the session has ended: open the address with the token");
        PageReply reply;
        reply.content_type = "text/html; charset=utf-8";
        reply.body = PageHtml(*csrf);
        reply.headers.emplace_back("Cache-Control", "no-store");
        return reply;
    }
    // The token (in the address, or a Bearer header): a new session, and the same address
    // without the token, so that it leaves the address bar and the history.
    const std::optional<PageSession> session = sessions_.Open();
    if (!session) return Text(500, "the system's random generator failed");
    PageReply reply;
    reply.status = 303;
    reply.content_type = "text/plain; charset=utf-8";
    reply.headers.emplace_back("Set-Cookie", SessionCookieHeader(*session));
    reply.headers.emplace_back("Location", WithoutToken(request.target));
    reply.headers.emplace_back("Cache-Control", "no-store");
    reply.verdict = "session opened";
    return reply;
}

PageReply PageService::State(const RequestHead& request, double now) {
    const std::optional<std::int64_t> since = QueryNumber(request.target, "since");
    const std::optional<std::int64_t> focus = QueryNumber(request.target, "focus");
    std::optional<std::string> text;
    {
        std::lock_guard lock(mutex_);
        watch_.Seen(now);
        schedule_.Focus(focus ? std::optional<int32_t>(static_cast<int32_t>(*focus))
                              : std::nullopt);
        text = state_.Since(since ? std::optional<std::uint64_t>(*since) : std::nullopt);
    }
    if (seen_) seen_();
    PageReply reply;
    reply.headers.emplace_back("Cache-Control", "no-store");
    if (!text) {
        reply.status = 204;  // the page has this version: no bytes
        reply.verdict = "unchanged";
        return reply;
    }
    reply.content_type = "application/json; charset=utf-8";
    reply.body = std::move(*text);
    return reply;
}

PageReply PageService::Image(const RequestHead& request) {
    const std::optional<std::int64_t> vm = QueryNumber(request.target, "vm");
    if (!vm) return Text(400, "vm=INDEX is needed");
    const bool full = QueryValue(request.target, "full") == "1";
    const bool png = QueryValue(request.target, "format") == "png";
    const std::optional<std::int64_t> version = QueryNumber(request.target, "v");
    PageReply reply;
    std::shared_ptr<const image::Picture> screen;
    {
        std::lock_guard lock(mutex_);
        const PagePicture* picture = state_.Picture(static_cast<int32_t>(*vm), full || png);
        if (!picture || (png && picture->original.empty() && !picture->screen))
            return Text(404, "no picture of that VM yet");
        if (png && picture->original.empty())
            screen = picture->screen;  // made into a PNG below, out of the lock
        else
            reply.body = png ? picture->original : picture->bytes;
        // The version in the address names these bytes for good: the browser keeps them. Any
        // other address gets the newest, not to be kept.
        const bool named = version && static_cast<std::uint64_t>(*version) == picture->version;
        reply.headers.emplace_back("Cache-Control",
                                   named ? "private, max-age=86400, immutable" : "no-store");
    }
    if (screen) {
        // A download is rare and the focused screen changes every second: its PNG is made
        // only when asked for.
        reply.body = image::Encode(*screen, image::Format::kPng, 0);
        if (reply.body.empty()) return Text(500, "the screen could not be made into a PNG");
    }
    reply.content_type = png ? "image/png" : "image/jpeg";
    if (QueryValue(request.target, "download") == "1")
        reply.headers.emplace_back(
            "Content-Disposition",
            "attachment; filename=\"vm-" + std::to_string(*vm) + (png ? ".png\"" : ".jpg\""));
    return reply;
}

bool PageService::PageOpen(double now) const {
    std::lock_guard lock(mutex_);
    return watch_.Open(now);
}

std::optional<CapturePick> PageService::NextCapture(double now) {
    std::lock_guard lock(mutex_);
    if (!watch_.Open(now)) return std::nullopt;
    return schedule_.Next(now);
}

std::optional<double> PageService::NextDue(double now) const {
    std::lock_guard lock(mutex_);
    return schedule_.NextDue(now);
}

bool PageService::AllCapturedSince(double since) const {
    std::lock_guard lock(mutex_);
    return schedule_.AllBegunSince(since);
}

void PageService::CaptureDone(const CapturePick& pick, std::optional<PagePicture> picture) {
    std::lock_guard lock(mutex_);
    schedule_.Done(pick.index);
    if (picture) state_.SetPicture(pick.index, pick.full, std::move(*picture));
}

namespace {

// The running VMs a health or listing document names.
std::vector<int32_t> RunningIn(const Document& document) {
    std::vector<int32_t> running;
    if (const auto vms = document.find("vms"); vms != document.end() && vms->is_array())
        for (const Document& vm : *vms)
            if (vm.is_object() && vm.value("started", false) && vm.contains("index") &&
                vm["index"].is_number_integer())
                running.push_back(vm["index"].get<int32_t>());
    return running;
}

}  // namespace

void PageService::HealthRound(const Document& health) {
    const std::vector<int32_t> running = RunningIn(health);
    std::lock_guard lock(mutex_);
    state_.SetHealth(health);
    schedule_.SetVms(running);
}

void PageService::Listing(const Document& listing) {
    const std::vector<int32_t> running = RunningIn(listing);
    std::lock_guard lock(mutex_);
    state_.SetListing(listing);
    schedule_.SetVms(running);
}

void PageService::HealthFailed(const std::string& utf8_message) {
    std::lock_guard lock(mutex_);
    state_.SetProblem(utf8_message);
}

}  // namespace serve
