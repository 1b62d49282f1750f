#include "serve_win/farm_page_win.h"

#include <windows.h>

#include <algorithm>
#include <limits>

#include "agent/screen_limits.h"
#include "cli/mcp_serve_win.h"
#include "farm/command/limits.h"
#include "farm/run/device_channel.h"
#include "image/image_scaling.h"
#include "image/raw_screen.h"
#include "win/wide_text.h"

namespace {

// How long one capture may take, in seconds, before it is given up.
constexpr double kCaptureSeconds = 10;
// The longest a loop sleeps before it looks again whether a page is open.
constexpr double kLookAgainSeconds = 0.5;

double Now() {
    return static_cast<double>(GetTickCount64()) / 1000;
}

}  // namespace

std::string PageCaptureFolder() {
    return CaptureFolder(L"page");
}

FarmPageLoops::FarmPageLoops(serve::PageService& page, serve::RunService& service,
                             FarmSystem& system, std::string install_dir, std::string capture_dir,
                             double health_interval_s, double thumb_interval_s,
                             std::function<void(serve::RoundEntry)> on_round)
    : page_(page),
      service_(service),
      system_(system),
      install_dir_(std::move(install_dir)),
      capture_dir_(std::move(capture_dir)),
      health_interval_s_(health_interval_s),
      thumb_interval_s_(thumb_interval_s),
      on_round_(std::move(on_round)) {
    page_.OnSeen([this] { changed_.notify_all(); });
    threads_.emplace_back([this] { HealthLoop(stop_.get_token()); });
    for (int worker = 0; worker < kPageCapturesAtOnce; ++worker)
        threads_.emplace_back([this, worker] { CaptureLoop(stop_.get_token(), worker); });
}

FarmPageLoops::~FarmPageLoops() {
    Stop();
}

void FarmPageLoops::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.request_stop();
    changed_.notify_all();
    for (std::jthread& thread : threads_)
        if (thread.joinable()) thread.join();
    page_.OnSeen(nullptr);
}

void FarmPageLoops::Wait(double seconds) {
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    changed_.wait_for(
        lock, std::chrono::milliseconds(static_cast<long long>(std::max(0.0, seconds) * 1000)));
}

void FarmPageLoops::HealthLoop(std::stop_token stop) {
    serve::RoundPlan plan(health_interval_s_, thumb_interval_s_);
    while (!stop.stop_requested()) {
        const double now = Now();
        const bool open = page_.PageOpen(now);
        const serve::PageRound round =
            plan.Next(now, open, page_.AllCapturedSince(plan.VisitBegan()));
        if (round == serve::PageRound::kNone) {
            Wait(std::min(kLookAgainSeconds, plan.Wait(now, open)));
            continue;
        }
        const bool listing = round == serve::PageRound::kListing;
        if (!Round(listing, stop) && listing) plan.ListingFailed();
    }
}

bool FarmPageLoops::Round(bool listing, std::stop_token stop) {
    const double began = Now();
    const serve::RunAnswer answer = serve::AnswerRun(
        listing ? R"({"argv":["list"]})" : R"({"argv":["health"]})", service_, stop);
    const Document& document = answer.reply.body;
    serve::RoundEntry round;
    round.listing = listing;
    // A health round that found VMs unhealthy is not ok, but its readings are the tiles.
    const bool read = document.contains("vms") &&
                      (!round.listing || (document.contains("ok") && document["ok"] == true));
    if (read) {
        if (round.listing)
            page_.Listing(document);
        else
            page_.HealthRound(document);
        if (document["vms"].is_array()) round.vms = static_cast<int>(document["vms"].size());
    } else {
        std::string message = round.listing ? "the listing failed" : "the health round failed";
        if (document.contains("error") && document["error"].contains("message") &&
            document["error"]["message"].is_string())
            message = document["error"]["message"].get<std::string>();
        // A failed listing leaves the page as it was: the health round that follows says why.
        if (!round.listing) page_.HealthFailed(message);
        round.problem = message;
    }
    round.seconds = Now() - began;
    if (on_round_) on_round_(std::move(round));
    changed_.notify_all();  // the workers: the running VMs are known
    return read;
}

void FarmPageLoops::CaptureLoop(std::stop_token stop, int worker) {
    CaptureMemory memory;  // this worker's, kept from one capture to the next
    while (!stop.stop_requested()) {
        const double now = Now();
        const std::optional<serve::CapturePick> pick = page_.NextCapture(now);
        if (!pick) {
            // No page open: the memory kept for the next capture goes back to the system.
            if (!page_.PageOpen(now)) memory = {};
            const std::optional<double> due = page_.NextDue(now);
            Wait(due ? std::min(kLookAgainSeconds, *due - now) : kLookAgainSeconds);
            continue;
        }
        std::optional<serve::PagePicture> picture;
        try {
            picture = Capture(*pick, worker, memory);
        } catch (const std::exception&) {
            picture.reset();  // no picture this time; the next interval tries again
        }
        page_.CaptureDone(*pick, std::move(picture));
    }
}

bool FarmPageLoops::RawRefused(int32_t index) {
    std::lock_guard lock(raw_mutex_);
    return no_raw_.count(index) > 0;
}

std::optional<image::Picture> FarmPageLoops::RawScreen(int32_t index, CaptureMemory& memory) {
    std::optional<adb::AdbResult> result =
        system_.Devices().Exec(install_dir_, DeviceSerial(index), "screencap",
                               image::RawScreenMostBytes(agent::kMostCapturePixels),
                               kCaptureSeconds, std::nullopt, std::move(memory.reply));
    if (!result || !result->ok()) return std::nullopt;
    image::Decoded decoded =
        image::DecodeRawScreen(result->output, agent::kMostCapturePixels, std::move(memory.screen));
    memory.reply = std::move(result->output);
    if (!decoded.picture) {
        // The device answered, but not with a raw screen we read (an older screencap, a format
        // of its own): this VM's screens come as PNG from now on, for the service's life, so a
        // device that does not speak raw is asked once, not at every capture.
        std::lock_guard lock(raw_mutex_);
        no_raw_.insert(index);
    }
    return std::move(decoded.picture);
}

std::optional<serve::PagePicture> FarmPageLoops::Capture(const serve::CapturePick& pick, int worker,
                                                         CaptureMemory& memory) {
    // The raw screen first: no PNG to make on the device nor to read here, no file between.
    std::optional<image::Picture> screen;
    std::string png;
    if (!RawRefused(pick.index)) screen = RawScreen(pick.index, memory);
    if (!screen && RawRefused(pick.index)) {
        const std::string path = capture_dir_ + "memufarm-page-" + std::to_string(worker) + ".png";
        const std::optional<adb::AdbResult> result = system_.Devices().ExecToFile(
            install_dir_, DeviceSerial(pick.index), "screencap -p", path, kCaptureSeconds);
        if (result && result->ok()) png = system_.FileStart(path, agent::kMostCaptureBytes);
        system_.RemoveFile(path);
        if (png.empty()) return std::nullopt;
        image::Decoded decoded = image::Decode(png, agent::kMostCapturePixels);
        screen = std::move(decoded.picture);
    }
    if (!screen) return std::nullopt;
    serve::PagePicture picture;
    picture.screen_width = screen->width;
    picture.screen_height = screen->height;
    if (pick.full) {
        picture.bytes = image::Encode(*screen, image::Format::kJpeg, kPageFullQuality);
        // The download of the full-size screen is a PNG: the device's own, or one made of
        // these pixels when it is asked for.
        if (!png.empty())
            picture.original = std::move(png);
        else
            picture.screen = std::make_shared<const image::Picture>(std::move(*screen));
    } else {
        picture.bytes =
            image::Encode(image::Scaled(*screen, std::min(kPageThumbWidth, screen->width),
                                        image::ScaleFilter::kBox),
                          image::Format::kJpeg, kPageThumbQuality);
        memory.screen = std::move(*screen);  // its memory for the next raw screen
    }
    if (picture.bytes.empty()) return std::nullopt;
    return picture;
}
