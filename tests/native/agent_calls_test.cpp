// Tool calls through FarmToolHost on the fake system: what an agent reads (isError, the
// document, the text, the images), the owner's limits, progress per VM, the call's stop as
// Ctrl+C, the server's cap on a call and on tool starts in flight.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "agent/farm_tool_host.h"
#include "agent/serve_options.h"
#include "agent/tool_result.h"
#include "image/image_scaling.h"
#include "agent_test_support.h"
#include "fake_farm_system.h"
#include "row_name.h"

namespace {

using agent::FarmToolHost;
using agent::HostOptions;
using agent_test::FakeCallContext;
using Json = nlohmann::json;

const std::string kSixVms =
    "0,MEmu,0,0,0\r\n1,MEmu_1,11,1,5678\r\n2,MEmu_2,0,0,0\r\n3,MEmu_3,33,1,5679\r\n"
    "4,MEmu_4,0,0,0\r\n5,MEmu_5,0,0,0\r\n";

struct Served {
    FakeFarmSystem system;
    std::vector<std::pair<std::string, ToolRun>> replies;
    HostOptions options;

    Served() {
        options.gbk_of = agent_test::AsciiOnly;
        options.full_path = [](const std::string& path) { return "C:\\cwd\\" + path; };
        options.capture_dir = "C:\\temp\\";
        system.tools.answer = [this](const std::string& line) {
            for (const auto& [part, reply] : replies)
                if (line.find(part) != std::string::npos) return reply;
            return Answer("");
        };
    }

    Json Call(const std::string& tool, const std::string& arguments,
              FakeCallContext* context = nullptr) {
        FarmToolHost host(system, options);
        FakeCallContext own;
        return Json::parse(
            host.Call(tool, Json::parse(arguments), context ? *context : own).dump());
    }
    std::set<std::string> Tools() {
        FarmToolHost host(system, options);
        std::set<std::string> names;
        for (const auto& tool : host.ListTools()) names.insert(tool["name"].get<std::string>());
        return names;
    }
    Json Properties(const std::string& tool) {
        FarmToolHost host(system, options);
        for (const auto& definition : host.ListTools())
            if (definition["name"] == tool)
                return Json::parse(definition["inputSchema"]["properties"].dump());
        return nullptr;
    }
    // The lines started for VM `index`.
    int LinesFor(int index) {
        int count = 0;
        for (const std::string& line : system.tools.Lines())
            if (line.find("-i " + std::to_string(index)) != std::string::npos) ++count;
        return count;
    }
};

std::string Text(const Json& result) {
    return result["content"][0]["text"].get<std::string>();
}

struct ErrorRow {
    const char* name;
    const char* tool;
    const char* arguments;
    std::vector<std::pair<std::string, ToolRun>> replies;
    bool is_error;
    bool ok;           // the document's "ok"
    const char* text;  // in the text item
};

class IsErrorTest : public testing::TestWithParam<ErrorRow> {};

TEST_P(IsErrorTest, CarriesTheConsolesVerdict) {
    const ErrorRow& row = GetParam();
    Served served;
    served.replies = row.replies;
    served.replies.push_back({"listvms", Answer(kSixVms)});
    const Json result = served.Call(row.tool, row.arguments);
    EXPECT_EQ(result["isError"], row.is_error) << result.dump();
    EXPECT_EQ(result["structuredContent"]["ok"], row.ok) << result.dump();
    EXPECT_NE(Text(result).find(row.text), std::string::npos) << Text(result);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IsErrorTest,
    testing::Values(
        ErrorRow{"done",
                 "start",
                 R"({"set":"1","wait":true})",
                 {{"start", Answer("SUCCESS: start vm finished.")}},
                 false,
                 true,
                 "SUCCESS"},
        ErrorRow{"step_failed",
                 "start",
                 R"({"set":"1","wait":true})",
                 {{"start", Answer("ERROR: no VM with index 1", 1)}},
                 true,
                 false,
                 "ERROR: no VM with index 1"},
        ErrorRow{"one_of_a_set_failed",
                 "rename",
                 R"({"set":"1,3","title":"x"})",
                 {{"-i 3", Answer("ERROR: no\r\n", 1)}, {"rename", Answer("SUCCESS\r\n")}},
                 true,
                 false,
                 "2 VMs: 1 ok, 1 failed."},
        ErrorRow{"not_running_is_an_answer",
                 "running",
                 R"({"set":"1"})",
                 {{"isvmrunning", Answer("Not Running")}},
                 false,
                 true,
                 "Not Running"},
        ErrorRow{"running_question_failed",
                 "running",
                 R"({"set":"1"})",
                 {{"isvmrunning", Answer("ERROR: no VM with index 1", 1)}},
                 true,
                 false,
                 "ERROR"},
        ErrorRow{"refused_argument",
                 "stop",
                 R"({"set":"1","parallel":0})",
                 {},
                 true,
                 false,
                 "--parallel must be a whole number from 1 to 64, not '0'"},
        ErrorRow{
            "refused_by_the_run", "text", R"({"set":"1","text":"a%sb"})", {}, true, false, "%s"},
        ErrorRow{"health_of_an_unlisted_vm",
                 "health",
                 R"({"set":"9"})",
                 {},
                 true,
                 false,
                 "VM 9 is not listed"}),
    RowName());

TEST(AgentCalls, UnhealthyVmsAreAnAnswerNotAnError) {
    Served served;
    served.replies = {{"listvms", Answer(kSixVms)}};
    served.system.probes.windows[11] = WindowAnswer::kHung;  // VM 1's window
    served.system.probes.windows[12] = WindowAnswer::kHung;
    const Json result = served.Call("health", R"({"set":"1"})");
    EXPECT_EQ(result["isError"], false) << result.dump();
    EXPECT_EQ(result["structuredContent"]["unhealthy"], 1) << result.dump();
    EXPECT_NE(Text(result).find("1 of 1 running VMs unhealthy"), std::string::npos) << Text(result);
}

TEST(AgentCalls, TheDocumentIsTheOneJsonPrints) {
    Served served;
    served.replies = {{"start", Answer("SUCCESS: start vm finished.")}};
    const Json result = served.Call("start", R"({"set":"1","wait":true})");
    const Json& document = result["structuredContent"];
    EXPECT_EQ(document["ok"], true);
    EXPECT_EQ(document["verdict"], "ok");
    EXPECT_EQ(document["command"], "memuc.exe memuc start -i 1");
}

TEST(AgentCalls, ADeadlinePassedIsAnErrorAndTheServersCapBoundsTheCall) {
    Served served;
    served.options.deadline_s = 5;
    served.system.tools.hang_on = "start";
    const double began = served.system.Now();
    const Json result = served.Call("start", R"({"set":"1","wait":true,"deadline":100})");
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(result["structuredContent"]["verdict"], "deadline");
    EXPECT_GE(served.system.Now() - began, 5);
    EXPECT_LT(served.system.Now() - began, 6);
}

TEST(AgentCalls, ACallsOwnDeadlineMayBeShorterThanTheCap) {
    Served served;
    served.system.tools.hang_on = "start";
    const double began = served.system.Now();
    const Json result = served.Call("start", R"({"set":"1","wait":true,"deadline":2})");
    EXPECT_EQ(result["structuredContent"]["verdict"], "deadline");
    EXPECT_LT(served.system.Now() - began, 3);
}

TEST(AgentCalls, ProgressAfterEachVmIncreasesToTheSetsSize) {
    Served served;
    FakeCallContext context;
    served.Call("shake", R"({"set":"1-3"})", &context);
    ASSERT_EQ(context.progress.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(context.progress[i].progress, static_cast<double>(i + 1));
        ASSERT_TRUE(context.progress[i].total);
        EXPECT_EQ(*context.progress[i].total, 3);
        EXPECT_EQ(context.progress[i].message.rfind(std::to_string(i + 1) + " ", 0), 0u)
            << context.progress[i].message;
    }
}

// A context whose first report is held until a second report comes (or a while passes): VMs
// that end together must still reach the client numbered in the order they are told.
class HeldFirstReport : public FakeCallContext {
public:
    bool ReportProgress(const mcp::ProgressReport& report) override {
        std::unique_lock lock(mutex_);
        order.push_back(report.progress);
        changed_.notify_all();
        if (order.size() == 1)
            changed_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return order.size() > 1; });
        told.push_back(report.progress);
        return true;
    }
    std::vector<double> told;  // as each report went on to the client

private:
    std::vector<double> order;  // as the reports came in
    std::mutex mutex_;
    std::condition_variable changed_;
};

TEST(AgentCalls, ProgressOfVmsThatEndTogetherIsToldInItsOwnOrder) {
    Served served;
    HeldFirstReport context;
    served.Call("shake", R"({"set":"1-3","parallel":3})", &context);
    EXPECT_EQ(context.told, (std::vector<double>{1, 2, 3}));
}

TEST(AgentCalls, ProgressOverAllCountsAgainstTheVmsTheListingGave) {
    Served served;
    served.replies = {{"listvms", Answer(kSixVms)}};
    FakeCallContext context;
    served.Call("shake", R"({"set":"all"})", &context);
    ASSERT_EQ(context.progress.size(), 6u);
    for (const mcp::ProgressReport& report : context.progress) {
        ASSERT_TRUE(report.total);
        EXPECT_EQ(*report.total, 6);
    }
    EXPECT_EQ(context.progress.back().progress, 6);
}

TEST(AgentCalls, CloneProgressAfterEachCloneLineCountsAgainstTheCloneCount) {
    Served served;
    served.replies = {{"listvms", Answer(kSixVms)},
                      {" take ", Answer("Snapshot taken. UUID: 11111111-2222-3333-4444-5555555555"
                                        "55\r\n")},
                      {"MEmu_122", Answer("Error: exists\r\n", 1)},
                      {"clonevm", Answer("Machine has been successfully cloned\r\n")}};
    FakeCallContext context;
    FarmToolHost host(served.system, served.options);  // its text is GBK: not dumped
    host.Call("clone", Json::parse(R"({"master":0,"count":3,"first":121})"), context);
    ASSERT_EQ(context.progress.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(context.progress[i].progress, static_cast<double>(i + 1));
        ASSERT_TRUE(context.progress[i].total);
        EXPECT_EQ(*context.progress[i].total, 3);
    }
    // Each report ends with its clone's own line.
    const auto ends_with = [](const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    };
    EXPECT_TRUE(ends_with(context.progress[0].message, "MEmu_121")) << context.progress[0].message;
    EXPECT_TRUE(ends_with(context.progress[1].message, "Error: exists"))
        << context.progress[1].message;
    EXPECT_TRUE(ends_with(context.progress[2].message, "MEmu_123")) << context.progress[2].message;
}

TEST(AgentCalls, TheTextHoldsEachVmsLineThenTheSummary) {
    Served served;
    const std::string text = Text(served.Call("shake", R"({"set":"1-2"})"));
    const size_t first = text.find("1     ok");
    const size_t second = text.find("2     ok");
    const size_t summary = text.find("2 VMs: 2 ok");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_LT(first, second) << text;
    EXPECT_LT(second, summary) << text;
}

TEST(AgentCalls, EachStepIsLoggedAndAFailureAtErrorLevel) {
    Served served;
    served.replies = {{"-i 2", Answer("ERROR: no\r\n", 1)}};
    FakeCallContext context;
    served.Call("shake", R"({"set":"1-2"})", &context);
    int info = 0, error = 0;
    for (const auto& [level, line] : context.logs) {
        if (level == mcp::LogLevel::kInfo && line.find("memuc.exe memuc shake -i ") == 0) ++info;
        if (level == mcp::LogLevel::kError &&
            line.find("shake -i 2: exit code 1") != std::string::npos)
            ++error;
    }
    EXPECT_EQ(info, 2);
    EXPECT_EQ(error, 1);
}

TEST(AgentCalls, AStopAfterTheFirstVmStartsNothingNew) {
    Served served;
    FakeCallContext context;
    served.system.tools.answer = [&context](const std::string& line) {
        if (line.find("-i 1") != std::string::npos) context.stop.request_stop();
        return Answer("");
    };
    const Json result = served.Call("shake", R"({"set":"1-3"})", &context);
    EXPECT_EQ(served.LinesFor(1), 1);
    EXPECT_EQ(served.LinesFor(2), 0);
    EXPECT_EQ(served.LinesFor(3), 0);
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(result["structuredContent"]["results"][1]["verdict"], "not_started");
}

TEST(AgentCalls, AStoppedCallWaitsForItsRunningToolAGraceThenLeavesItRunning) {
    Served served;
    FakeCallContext context;
    served.system.tools.hang_on = "-i 1";
    served.system.tools.waited = [&] {
        context.stop.request_stop();
        served.system.Sleep(0.001);
    };
    const double began = served.system.Now();
    const Json result = served.Call("shake", R"({"set":"1-2"})", &context);
    const double waited = served.system.Now() - began;
    EXPECT_GE(waited, agent::kStopGraceSeconds);
    EXPECT_LT(waited, agent::kStopGraceSeconds + 1);
    EXPECT_EQ(served.LinesFor(2), 0);
    EXPECT_EQ(result["isError"], true);
}

TEST(AgentCalls, ToolStartsInFlightAcrossTheCallStayWithinTheServersBound) {
    Served served;
    served.options.parallel = 2;
    std::mutex mutex;
    std::condition_variable changed;
    int in_flight = 0, peak = 0;
    served.system.tools.answer = [&](const std::string&) {
        std::unique_lock lock(mutex);
        peak = std::max(peak, ++in_flight);
        changed.notify_all();
        // Holds the start a little while others may come; only how much overlap there is.
        changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return in_flight > 2; });
        --in_flight;
        return Answer("");
    };
    const Json result = served.Call("shake", R"({"set":"1-6","parallel":6})");
    EXPECT_EQ(result["isError"], false);
    EXPECT_LE(peak, 2);
    EXPECT_EQ(served.system.tools.Lines().size(), 6u);
}

// --- The owner's limits ----------------------------------------------------------------------

TEST(AgentLimits, UnderVmsTheToolsThatLeaveTheSetAreNotOffered) {
    Served served;
    std::string why;
    served.options.limits.vms = ParseVmSet("1-3", &why);
    served.options.limits.vms_text = "1-3";
    const std::set<std::string> tools = served.Tools();
    for (const char* gone : {"adb", "stopall", "sortwin", "create", "copy", "import", "clone"})
        EXPECT_EQ(tools.count(gone), 0u) << gone;
    for (const char* kept : {"list", "start", "stop", "health", "screenshot"})
        EXPECT_EQ(tools.count(kept), 1u) << kept;
}

struct VmsRow {
    const char* name;
    const char* owner;
    const char* call;
    std::vector<int> acted_on;  // empty: refused before anything ran
    const char* refusal;
};

class VmsLimitTest : public testing::TestWithParam<VmsRow> {};

TEST_P(VmsLimitTest, EveryCallActsWithinTheOwnersSet) {
    const VmsRow& row = GetParam();
    Served served;
    served.replies = {{"listvms", Answer(kSixVms)}};
    std::string why;
    served.options.limits.vms = ParseVmSet(row.owner, &why);
    served.options.limits.vms_text = row.owner;
    const Json result = served.Call("shake", std::string(R"({"set":")") + row.call + R"("})");
    std::vector<int> acted;
    for (int index = 0; index <= 5; ++index)
        if (served.LinesFor(index) > 0) acted.push_back(index);
    EXPECT_EQ(acted, row.acted_on);
    if (row.refusal) {
        EXPECT_EQ(result["isError"], true);
        EXPECT_EQ(result["structuredContent"]["error"]["exit_code"], 2);
        EXPECT_EQ(result["structuredContent"]["error"]["message"], row.refusal);
    } else {
        EXPECT_EQ(result["isError"], false) << result.dump();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VmsLimitTest,
    testing::Values(VmsRow{"inside", "1-3", "2", {2}, nullptr},
                    VmsRow{"at_the_edges", "1-3", "1,3", {1, 3}, nullptr},
                    VmsRow{"one_outside",
                           "1-3",
                           "3,4",
                           {},
                           "VM 4 is not among the VMs this server may act on (--vms 1-3)"},
                    VmsRow{"all_within", "1-3", "all", {1, 2, 3}, nullptr},
                    VmsRow{"running_within", "1-3", "running", {1, 3}, nullptr},
                    VmsRow{"stopped_within", "1-3", "stopped", {2}, nullptr},
                    VmsRow{"owner_running", "running", "all", {1, 3}, nullptr},
                    VmsRow{"owner_running_named_outside",
                           "running",
                           "2",
                           {},
                           "VM 2 is not among the VMs this server may act on (--vms running)"},
                    VmsRow{"nothing_within", "4-5", "running", {}, "the set names no VM"}),
    RowName());

TEST(AgentLimits, ReadOnlyOffersOnlyTheToolsThatOnlyAsk) {
    Served served;
    served.options.limits.read_only = true;
    std::set<std::string> expected;
    for (const VerbRow& verb : AllVerbs())
        if ((verb.front_ends & kMcpFrontEnd) && verb.effect == Effect::kReadOnly)
            expected.insert(verb.name);
    EXPECT_EQ(served.Tools(), expected);
    FarmToolHost host(served.system, served.options);
    EXPECT_FALSE(host.HasTool("stop"));
    EXPECT_TRUE(host.HasTool("running"));
}

TEST(AgentLimits, ToolsOffersOnlyThoseNamed) {
    Served served;
    served.options.limits.tools = std::set<std::string>{"list", "stop"};
    EXPECT_EQ(served.Tools(), (std::set<std::string>{"list", "stop"}));
    served.options.limits.read_only = true;
    EXPECT_EQ(served.Tools(), (std::set<std::string>{"list"}));
}

TEST(AgentLimits, WithoutFilesNoToolWritesAFileOnThePc) {
    Served served;
    const std::set<std::string> tools = served.Tools();
    EXPECT_EQ(tools.count("export"), 0u);
    EXPECT_FALSE(served.Properties("screenshot").contains("file"));
    EXPECT_FALSE(served.Properties("health").contains("prom"));
    EXPECT_TRUE(served.Properties("install").contains("apk"));  // read, not written

    served.options.limits.files = "C:\\farm";
    EXPECT_EQ(served.Tools().count("export"), 1u);
    EXPECT_TRUE(served.Properties("screenshot").contains("file"));
    EXPECT_TRUE(served.Properties("health").contains("prom"));
}

TEST(AgentLimits, AFileOutsideTheFilesFolderIsRefusedBeforeAnythingRuns) {
    Served served;
    served.options.limits.files = "C:\\farm";
    const Json result = served.Call("install", R"({"set":"1","apk":"C:\\other\\a.apk"})");
    EXPECT_EQ(result["isError"], true);
    EXPECT_TRUE(served.system.tools.Lines().empty());
    const Json inside = served.Call("install", R"({"set":"1","apk":"a.apk"})");
    ASSERT_FALSE(served.system.tools.Lines().empty());
    EXPECT_NE(served.system.tools.Lines().back().find("C:\\farm\\a.apk"), std::string::npos)
        << served.system.tools.Lines().back();
}

// A screen of `width` x `height` as a PNG; noise in blocks keeps it from packing small.
std::string ScreenPng(int width, int height) {
    image::Picture picture{width, height, {}};
    uint32_t seed = 7;
    for (int i = 0; i < width * height * 3; ++i) {
        if ((i / 24) % 2 == 0) seed = seed * 1103515245 + 12345;
        picture.rgb.push_back(static_cast<unsigned char>(seed >> 16));
    }
    return image::Encode(picture, image::Format::kPng, 0);
}

std::function<DeviceReply(const std::string&, const std::string&)> Screens(const std::string& png) {
    return [png](const std::string&, const std::string& service) {
        return service == "exec:screencap -p" ? Okay(png) : Okay("1\n");
    };
}

TEST(AgentScreenshot, WithoutFilesEachScreenComesBackAsAnImageAndNoFileStays) {
    Served served;
    served.system.adb.answer = Screens(ScreenPng(40, 30));
    const Json result = served.Call("screenshot", R"({"set":"1-2"})");
    EXPECT_EQ(result["isError"], false) << result.dump();
    ASSERT_EQ(result["content"].size(), 3u);
    EXPECT_EQ(result["content"][1]["type"], "image");
    EXPECT_EQ(result["content"][1]["mimeType"], "image/png");
    EXPECT_FALSE(result["content"][1]["data"].get<std::string>().empty());
    for (const std::string& path : served.system.Removed())
        EXPECT_EQ(path.rfind("C:\\temp\\", 0), 0u) << path;
    EXPECT_FALSE(served.system.FileExists("C:\\temp\\mcp-screen-1-1.png"));
    EXPECT_FALSE(served.system.FileExists("C:\\temp\\mcp-screen-1-2.png"));
}

TEST(AgentScreenshot, AFailedCaptureHasItsReasonAndNoImage) {
    Served served;
    served.system.adb.answer = [](const std::string&, const std::string&) {
        return Fail("device offline");
    };
    const Json result = served.Call("screenshot", R"({"set":"1"})");
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(result["content"].size(), 1u);
    EXPECT_NE(Text(result).find("device offline"), std::string::npos) << Text(result);
}

TEST(AgentTools, Base64) {
    EXPECT_EQ(agent::Base64(""), "");
    EXPECT_EQ(agent::Base64("f"), "Zg==");
    EXPECT_EQ(agent::Base64("fo"), "Zm8=");
    EXPECT_EQ(agent::Base64("foo"), "Zm9v");
    EXPECT_EQ(agent::Base64("\xff\xfe"), "//4=");
}

}  // namespace

namespace {

TEST(AgentScreenshot, ThreeVmsShareTheBudgetScaledDownRatherThanLeftOut) {
    Served served;
    served.system.adb.answer = Screens(ScreenPng(640, 400));
    const Json result = served.Call("screenshot", R"({"set":"1-3","max_bytes":60000})");
    EXPECT_LE(result.dump().size(), 60000u);
    ASSERT_EQ(result["content"].size(), 4u) << Text(result);
    EXPECT_NE(Text(result).find("VM 3: the screen is 640x400, sent as "), std::string::npos)
        << Text(result);
    const Json refused = served.Call("screenshot", R"({"set":"1","max_bytes":10})");
    EXPECT_EQ(refused["isError"], true);
}

TEST(AgentScreenshot, TheFileAskedForKeepsTheScreenAsCaptured) {
    Served served;
    served.options.limits.files = "C:\\farm";
    const std::string png = ScreenPng(640, 400);
    served.system.adb.answer = Screens(png);
    const Json result =
        served.Call("screenshot", R"({"set":"1","file":"C:\\farm\\s.png","max_width":64})");
    ASSERT_EQ(result["content"].size(), 2u) << Text(result);
    EXPECT_LT(result["content"][1]["data"].get<std::string>().size(), png.size());
    EXPECT_EQ(served.system.FileStart("C:\\farm\\s.png", png.size() + 1), png);
}

}  // namespace

namespace {

struct ServeRow {
    const char* name;
    const char* tools;  // --tools
    const char* problem;
};

class ServeOptionsTest : public testing::TestWithParam<ServeRow> {};

TEST_P(ServeOptionsTest, ToolsNameOnlyTools) {
    const ServeRow& row = GetParam();
    FarmRequest request = NewRequest(*FindVerb("mcp"));
    request.mcp_tools = row.tools;
    std::string problem;
    const std::optional<agent::HostOptions> options = agent::ServeOptions(request, &problem);
    if (row.problem) {
        EXPECT_FALSE(options);
        EXPECT_EQ(problem, row.problem);
    } else {
        ASSERT_TRUE(options) << problem;
        EXPECT_EQ(options->parallel, kMcpStartsInFlight);
        EXPECT_EQ(options->deadline_s, kMcpCallSeconds);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServeOptionsTest,
    testing::Values(ServeRow{"some", "list,stop", nullptr},
                    ServeRow{"blanks_around", "list, stop", nullptr},
                    ServeRow{"writes_a_file", "export", nullptr},
                    ServeRow{"not_a_tool", "list,mcp",
                             "--tools: 'mcp' is no tool (the tools are the commands of MEmuFarm "
                             "--help but mcp)"},
                    ServeRow{"unknown", "lsit",
                             "--tools: 'lsit' is no tool (the tools are the commands of MEmuFarm "
                             "--help but mcp)"}),
    RowName());

TEST(AgentServe, TheOwnersSetIsWrittenAsTheConsoleWritesIt) {
    std::string why;
    EXPECT_EQ(agent::VmSetText(*ParseVmSet("3,5,101-103", &why)), "3,5,101,102,103");
    EXPECT_EQ(agent::VmSetText(*ParseVmSet("running", &why)), "running");
}

}  // namespace
