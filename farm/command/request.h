// One invocation of the console companion, as its command line asked for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cloning/clone_commands.h"
#include "farm/command/limits.h"
#include "farm/command/vm_set.h"

struct VerbRow;

// Exit codes of the program.
enum FarmExit : int {
    kExitOk = 0,
    kExitFailed = 1,    // a tool failed (or did not start), or a step of the command failed
    kExitUsage = 2,     // bad command line; nothing was run
    kExitNotFound = 3,  // no emulator found, or --install-dir holds no memuc.exe
    kExitDeadline = 4,  // --deadline passed while a tool was still running
};

enum class ConsoleVersion { kNone, k721, k722 };

struct FarmRequest {
    const VerbRow* verb = nullptr;

    // Global options.
    std::optional<std::string> install_dir;
    bool json = false;
    std::optional<uint32_t> deadline_ms;

    // The command's arguments: the VMs, then the integers and the texts in usage order.
    std::optional<VmSet> set;
    std::vector<int32_t> numbers;
    std::vector<std::string> texts;
    bool by_package = false;  // install SET -p PACKAGE (the package is texts[0])

    // start, stop, reboot
    bool wait = false;
    std::optional<int32_t> timeout_ms;
    bool boot = false;  // start, reboot: wait until Android has booted
    double boot_timeout_s = kDefaultBootTimeoutS;
    // Every command over a set of VMs.
    int parallel = 1;
    double stagger_s = 0;

    // clone
    int32_t master = 0;
    int64_t count = 0;
    int64_t first = kFirstCloneNumber;
    bool first_next = false;  // --first next: one above the highest listed VM, at least the first
    ConsoleVersion console = ConsoleVersion::kNone;
    bool dry_run = false;
    bool randomize = false;

    // health
    double sample_s = kDefaultSampleS;
    std::optional<double> watch_s;         // repeat every so many seconds until Ctrl+C
    std::optional<std::string> prom_file;  // also write the readings for Prometheus
    std::optional<double> max_cpu;         // share of all cores
    std::optional<double> max_private_mb;
    // health --watch --heal: start the VMs of the set that are down, restart the ones that stay
    // unhealthy, at most max_restarts actions per VM within heal_window_s seconds.
    bool heal = false;
    int heal_after = kDefaultHealAfter;
    int max_restarts = kDefaultMaxRestarts;
    double heal_window_s = kDefaultHealWindowS;

    // mcp: the server's bounds and the owner's limits on every call.
    int max_calls = kMcpMaxCalls;
    std::optional<VmSet> mcp_vms;
    bool read_only = false;
    std::optional<std::string> mcp_tools;  // "NAME,..."
    std::optional<std::string> mcp_files;  // a folder

    // serve: where it listens, the other names its Host may be, the token's file, the log.
    std::string listen = kServeListen;
    std::optional<std::string> allow_hosts;  // "NAME,..."
    std::optional<std::string> token_file;
    std::optional<std::string> log_file;
    // serve's MCP sessions: how many at once, and how long one may stay idle.
    int max_sessions = kServeMcpSessions;
    double session_idle_s = kServeSessionIdleSeconds;
    // serve's farm page: the health round's and the thumbnails' intervals, in seconds.
    double health_interval_s = kPageHealthSeconds;
    double thumb_interval_s = kPageThumbSeconds;
};
