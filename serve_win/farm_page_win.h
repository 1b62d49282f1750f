// The farm page's work in the service: one health loop (the farm listed as the service starts,
// then a round at most every --health-interval seconds, only while a page is open) and a few
// capture workers that take the VMs' screens in turn through the adb server, scale them and keep
// them as JPEG. Every decision (what is due, what a page is shown) is the portable PageService's.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "farm/run/farm_system.h"
#include "image/image_scaling.h"
#include "serve/page_service.h"
#include "serve/request_log.h"
#include "serve/run_call.h"

// A folder of this server's own for the page's captures, %TEMP%\MEmuFarm-page-PID\ (GBK, with
// '\\' last); empty when it cannot be made.
std::string PageCaptureFolder();

class FarmPageLoops {
public:
    // `capture_dir`: where a PNG capture's file is written for the moment it is read (with '\\'
    // last). `on_round` is told of each health round once the page's state holds it (its
    // time left for the caller to fill in).
    FarmPageLoops(serve::PageService& page, serve::RunService& service, FarmSystem& system,
                  std::string install_dir, std::string capture_dir, double health_interval_s,
                  double thumb_interval_s, std::function<void(serve::RoundEntry)> on_round);
    ~FarmPageLoops();
    FarmPageLoops(const FarmPageLoops&) = delete;
    FarmPageLoops& operator=(const FarmPageLoops&) = delete;

    // Ends the loops and waits for them (a running round or capture ends at its own bound).
    void Stop();

private:
    void HealthLoop(std::stop_token stop);
    // One `list` (the service's first, or a visit's) or `health` run, its document given to
    // the page, its line to the log. False when it gave the page no tiles.
    bool Round(bool listing, std::stop_token stop);
    void CaptureLoop(std::stop_token stop, int worker);
    // A worker's memory for raw screens, kept between its captures: a few megabytes allocated
    // and freed at every capture cost more than reading the screen.
    struct CaptureMemory {
        std::string reply;
        image::Picture screen;
    };
    // A capture: the device's raw screen, or for a VM whose device has not given one, its PNG.
    std::optional<serve::PagePicture> Capture(const serve::CapturePick& pick, int worker,
                                              CaptureMemory& memory);
    // VM `index`'s raw screen; nothing when it could not be taken this time, or when the
    // device answered with something else (and then RawRefused from now on).
    std::optional<image::Picture> RawScreen(int32_t index, CaptureMemory& memory);
    bool RawRefused(int32_t index);
    // Waits `seconds` at most, less when a page asks or the loops end.
    void Wait(double seconds);

    serve::PageService& page_;
    serve::RunService& service_;
    FarmSystem& system_;
    const std::string install_dir_;
    const std::string capture_dir_;
    const double health_interval_s_;
    const double thumb_interval_s_;
    const std::function<void(serve::RoundEntry)> on_round_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::stop_source stop_;
    std::vector<std::jthread> threads_;
    std::mutex raw_mutex_;
    std::set<int32_t> no_raw_;  // the VMs whose devices gave no raw screen
};
