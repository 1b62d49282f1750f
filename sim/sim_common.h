// Shared pieces of the simulated emulator tools: where the simulated installation lives, the
// journal of received command lines, the test switches and the VM state file.
//
// Layout: <root>\MEmu\ holds MEmu.exe, memuc.exe, adb.exe and MEmuConsole.exe;
// <root>\MEmuHyperv\ holds MEmuManage.exe and MEmuHeadless.exe. Every tool finds <root> as the
// parent of its own folder. Texts are GBK bytes, as in the program that drives these tools.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

constexpr const char kStateFile[] = "sim-state.txt";
constexpr const char kJournalFile[] = "sim-journal.txt";
constexpr const char kSwitchesFile[] = "sim-switches.txt";
// Texts "typed" into a VM: one "<index>\t<text>" line each.
constexpr const char kTypedFile[] = "sim-typed.txt";
// Window class of the hidden window tree a simulated VM process creates.
constexpr const wchar_t kVmWindowClass[] = L"MEmuSimVmWindow";

// Name of the event a simulated VM process sets once its window tree exists; whoever started
// it waits for that (waiting for input idle times out under Wine instead).
std::wstring VmReadyEventName(uint32_t pid);

std::wstring ToWide(const std::string& gbk);
std::string ToGbk(const std::wstring& wide);

// Folder of the running tool, with a trailing backslash.
std::string ExeFolder();
// File name of the running tool ("memuc.exe").
std::string ExeName();
// Parent of the tool's folder, with a trailing backslash.
std::string RootFolder();

// The argument text after the program name of this process's command line, as received.
std::string RawArguments();
// Splits like the C runtime does for the common cases: blanks separate, double quotes group and
// are removed ("--name="MEmu_1"" gives --name=MEmu_1). For the switch file's rules.
std::vector<std::string> SplitArguments(const std::string& raw);

// This process's arguments after its program name, as a program built with the C runtime
// receives them: the system's own split of the UTF-16 command line (CommandLineToArgvW), each
// argument as GBK.
std::vector<std::string> ProcessArguments();

// Serialises every read-modify-write of the files under one root, across processes.
class RootLock {
public:
    explicit RootLock(const std::string& root);
    ~RootLock();
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;

private:
    void* mutex_ = nullptr;
};

bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool AppendFileBytes(const std::string& path, const std::string& bytes);

// What every tool starts with: its root folder, its file name and the raw argument text, after
// the received command line has been appended to the journal.
struct Invocation {
    std::string root;
    std::string tool;
    std::string raw;
};
Invocation StartInvocation();

// The calls file: every call of memuc, adb and MEmuManage appends, when it ends,
// "<begin> <end> <tool> <arguments>" with both times in milliseconds of GetTickCount64 (one clock
// for every process), so that a test can see which calls ran at the same time. A call that
// never ends (the hang switch) writes nothing.
constexpr const char kCallsFile[] = "sim-calls.txt";
class CallRecord {
public:
    explicit CallRecord(const Invocation& call);
    ~CallRecord();
    CallRecord(const CallRecord&) = delete;
    CallRecord& operator=(const CallRecord&) = delete;

private:
    Invocation call_;
    uint64_t begin_;
};

// Appends "<tool> <arguments>\r\n" to the journal (just "<tool>\r\n" without arguments).
void AppendJournal(const std::string& root, const std::string& tool, const std::string& args);

// Switch behaviours that change what a tool answers rather than how it writes.
struct Reply {
    bool fail = false;        // print an error text without the success phrase
    bool lf_only = false;     // list lines end in LF only
    uint32_t boot_ms = 2000;  // adb: how long a started VM takes to boot
};

// Behaviour words of the switches file's rules for the tool and sub-command ("*" matches any),
// in file order. A rule with a fourth word, a VM index, counts only for that VM (`vm_index`,
// -1 when the call names no VM).
std::vector<std::string> SwitchBehaviours(const std::string& root, const std::string& tool,
                                          const std::string& subcommand, int vm_index);

// Applies the matching rules: delay=<ms> pauses, hang never returns, huge=<n>, binary and
// missing write their own reply (or none) and return false, telling the tool to exit at once.
// fail, lfonly and boot=<ms> are reported through `reply`.
bool ApplySwitches(const std::string& root, const std::string& tool, const std::string& subcommand,
                   int vm_index, Reply* reply);

// Writes bytes unchanged to standard output.
void Write(const std::string& bytes);

struct Snapshot {
    std::string uuid;
    std::string name;
};

struct Vm {
    int index = 0;
    std::string title;
    bool started = false;
    uint32_t pid = 0;  // process id of the VM's MEmuHeadless.exe while started
    std::string uuid;
    std::vector<Snapshot> snapshots;  // in the order they were taken
    std::vector<std::pair<std::string, std::string>> config;
    std::string from;               // a linked clone's source snapshot uuid, empty otherwise
    uint64_t started_at = 0;        // FILETIME of the last start, 0 while stopped
    std::string identity;           // the device identity (IMEI-like digits)
    std::vector<std::string> apps;  // installed third-party packages
};

// The state file: one VM per line, fields separated by tabs: index, title, started (1/0), pid,
// uuid, snapshots (uuid=name;...), config (key=value;...), from, started_at, identity, apps
// (;-separated). Lines starting with '#' are comments; missing trailing fields are empty or 0.
// Missing file: no VMs.
std::vector<Vm> LoadState(const std::string& root);
bool SaveState(const std::string& root, const std::vector<Vm>& vms);
std::string FormatState(const std::vector<Vm>& vms);
// One VM's line without its line end, and back; false when the line holds no VM.
std::string FormatVm(const Vm& vm);
bool ParseVm(const std::string& line, Vm* vm);
// Marks the VM stopped: no process, no start time.
void MarkStopped(Vm& vm);

Vm* FindVm(std::vector<Vm>& vms, int index);
// "MEmu" for index 0, "MEmu_" + n otherwise.
std::string VmName(int index);
// Index named by a VM name ("MEmu" gives 0, "MEmu_7" gives 7), -1 when it is no VM name.
int IndexOfVmName(const std::string& name);
// Deterministic uuid text for a VM created by the simulation.
std::string UuidForIndex(int index);
// Smallest index not used by any VM.
int FreeIndex(const std::vector<Vm>& vms);
// A random uuid text ("8-4-4-4-12" lower-case hex digits).
std::string NewUuid();
// A random 15-digit device identity whose last digit is the Luhn check digit, as in an IMEI.
std::string NewIdentity();
// The current time as a FILETIME count (100 ns units since 1601).
uint64_t FileTimeNow();

bool IsProcessAlive(uint32_t pid);
bool StopProcess(uint32_t pid);
// Top window of the hidden tree owned by the VM process, 0 when there is none.
int32_t VmWindowOf(uint32_t pid);

// Parses a decimal integer; false for anything else.
bool ParseInt(const std::string& text, int* value);
// True for the first byte of a GBK double-byte character.
bool IsGbkLead(char c);
// Appends one line to a file of the root under the root's lock.
void AppendRootFile(const std::string& root, const std::string& name, const std::string& line);

}  // namespace sim
