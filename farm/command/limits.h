// Every limit and default of the console companion's commands, each in one place: the option
// rows, the checks, the help and the run read them from here, so no number is written twice.
#pragma once

#include <cstddef>
#include <cstdint>

// The longest wait the system's millisecond timers take, in seconds.
inline constexpr double kLongestSeconds = 2147483.0;
// More clones than any one PC runs: a larger count is a mistake, and a dry run of it would
// only fill the memory with lines.
inline constexpr int64_t kMostClones = 100000;
// A set may name at most this many VMs.
inline constexpr size_t kMostVmsInSet = 10000;
// At most this many VMs are worked on at once.
inline constexpr int kMostParallel = 64;
// How many VMs' window and adb health asks at once unless --parallel says otherwise: Windows
// and adb answer its questions quickly.
inline constexpr int kHealthParallel = 16;

// start and reboot --boot: how long the boot is waited for, in seconds.
inline constexpr double kDefaultBootTimeoutS = 180;
// health: the CPU sample, in seconds.
inline constexpr double kDefaultSampleS = 1;
// health: adb must print "1" for sys.boot_completed within this long.
inline constexpr int kAdbAnswerMs = 3000;
// health --heal: unhealthy rounds in a row before a restart, actions per VM within the
// window, and the window in seconds.
inline constexpr int kDefaultHealAfter = 2;
inline constexpr int kDefaultMaxRestarts = 3;
inline constexpr double kDefaultHealWindowS = 3600;
// How long memuc stop and memuc start may stay silent before a heal action counts as timed out.
inline constexpr int kHealStopTimeoutMs = 30000;
inline constexpr int kHealStartTimeoutMs = 120000;

// mcp: tool starts in flight across all calls, the longest call in seconds, and calls at once.
inline constexpr int kMcpStartsInFlight = 16;
inline constexpr double kMcpCallSeconds = 600;
inline constexpr int kMcpMaxCalls = 32;
inline constexpr int kMostMcpCalls = 256;
// serve: where the web service listens unless --listen says otherwise, at most this many
// connections open at once (one more is answered busy and closed), and how long a client may
// take to send its header block and then its body, in seconds.
inline constexpr const char* kServeListen = "127.0.0.1:7420";
inline constexpr int kServeConnections = 64;
inline constexpr double kServeHeaderSeconds = 10;
inline constexpr double kServeBodySeconds = 30;
// serve's MCP over HTTP: at most this many sessions at once (a new initialize past it is
// answered busy), each ended once no request has come for this many seconds.
inline constexpr int kServeMcpSessions = 16;
inline constexpr int kMostServeMcpSessions = 1024;
inline constexpr double kServeSessionIdleSeconds = 3600;
// serve's farm page: a health round at most every so many seconds and a thumbnail of each VM
// at most every so many, only while a page is open (it asked for the state within the last two
// thumbnail intervals); the tile in focus at full size every kPageFocusSeconds; at most
// kPageCapturesAtOnce captures at a time, none of one VM twice; thumbnails kPageThumbWidth
// pixels wide as JPEG of kPageThumbQuality (the focused screen at kPageFullQuality).
inline constexpr double kPageHealthSeconds = 15;
inline constexpr double kPageThumbSeconds = 10;
inline constexpr double kPageFocusSeconds = 1;
inline constexpr int kPageCapturesAtOnce = 4;
inline constexpr int kPageThumbWidth = 240;
inline constexpr int kPageThumbQuality = 70;
inline constexpr int kPageFullQuality = 85;
