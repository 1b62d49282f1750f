// Fake streams, diagnostics and tool host for the MCP server tests (no <chrono>: its "µs" has no
// GBK form, and the tests are built with -fexec-charset=GBK). Waits are on condition
// variables; their time limits only keep a broken test from hanging.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mcp/byte_streams.h"
#include "mcp/json_rpc.h"
#include "mcp/outbox.h"
#include "mcp/stdio_server.h"
#include "mcp/tool_host.h"

namespace mcp_test {

constexpr auto kGuard = std::chrono::seconds(30);  // only for a test that is broken

// Input the test feeds; Read blocks until bytes come or the test closes it.
class FakeInput : public mcp::ByteInput {
public:
    void Push(std::string_view bytes) {
        std::lock_guard lock(mutex_);
        pending_.append(bytes);
        changed_.notify_all();
    }
    void PushLine(std::string_view line) { Push(std::string(line) + "\n"); }
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    std::size_t Read(char* buffer, std::size_t size) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || offset_ < pending_.size(); });
        const std::size_t n = std::min(size, pending_.size() - offset_);
        std::memcpy(buffer, pending_.data() + offset_, n);
        offset_ += n;
        if (offset_ == pending_.size()) {
            pending_.clear();
            offset_ = 0;
        }
        return n;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string pending_;
    std::size_t offset_ = 0;
    bool closed_ = false;
};

// Records every write; each write must be one whole message line.
class FakeOutput : public mcp::ByteOutput {
public:
    bool Write(std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        writes_.emplace_back(bytes);
        changed_.notify_all();
        return !broken_;
    }
    void Break() {
        std::lock_guard lock(mutex_);
        broken_ = true;
    }
    std::vector<std::string> Writes() {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    // Every write parsed; a write that is not exactly one JSON line fails the test.
    std::vector<nlohmann::json> Messages() {
        std::vector<nlohmann::json> messages;
        for (const std::string& write : Writes()) {
            EXPECT_TRUE(!write.empty() && write.back() == '\n' &&
                        write.find('\n') == write.size() - 1)
                << write;
            messages.push_back(nlohmann::json::parse(write, nullptr, false));
            EXPECT_FALSE(messages.back().is_discarded()) << write;
        }
        return messages;
    }
    // Waits until some message has this id.
    bool WaitForId(const nlohmann::json& id) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] {
            for (const std::string& write : writes_) {
                const auto message = nlohmann::json::parse(write, nullptr, false);
                if (message.is_object() && message.contains("id") && message["id"] == id)
                    return true;
            }
            return false;
        });
    }
    bool WaitForCount(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return writes_.size() >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> writes_;
    bool broken_ = false;
};

class FakeDiagnostics : public mcp::Diagnostics {
public:
    void Note(std::string_view text) override {
        std::lock_guard lock(mutex_);
        notes.emplace_back(text);
    }
    std::mutex mutex_;
    std::vector<std::string> notes;
};

// Tools:
//   echo        returns the arguments' JSON text
//   gate        {"key": K} blocks until Release(K) or the call is stopped
//   progress    {"steps": [{"progress": P, "total": T, "message": M}, ...]} reports each step
//   log         {"entries": [{"level": L, "data": D}, ...]} logs each entry
//   throws      throws
//   bad_result  returns an array
class FakeHost : public mcp::ToolHost {
public:
    struct Gate {
        bool started = false;
        bool released = false;
        bool saw_stop = false;
        bool returned = false;
    };

    nlohmann::ordered_json ListTools() override {
        nlohmann::ordered_json tools = nlohmann::ordered_json::array();
        for (const char* name : {"echo", "gate", "progress", "log", "throws", "bad_result"})
            tools.push_back({{"name", name}, {"inputSchema", {{"type", "object"}}}});
        return tools;
    }
    bool HasTool(const std::string& name) override {
        return name == "echo" || name == "gate" || name == "progress" || name == "log" ||
               name == "throws" || name == "bad_result";
    }
    nlohmann::ordered_json Call(const std::string& name, const nlohmann::json& arguments,
                                mcp::CallContext& context) override {
        {
            std::lock_guard lock(mutex_);
            calls.push_back(name);
            peak_running = std::max(peak_running, ++running);
        }
        nlohmann::ordered_json result = Run(name, arguments, context);
        std::lock_guard lock(mutex_);
        --running;
        return result;
    }

    // Blocks until the gate call with this key has started.
    bool WaitStarted(const std::string& key) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return gates[key].started; });
    }
    bool WaitStartedCount(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return running >= count; });
    }
    bool WaitSawStop(const std::string& key) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return gates[key].saw_stop; });
    }
    void Release(const std::string& key) {
        std::lock_guard lock(mutex_);
        gates[key].released = true;
        changed_.notify_all();
    }
    void ReleaseAll() {
        std::lock_guard lock(mutex_);
        release_all_ = true;
        changed_.notify_all();
    }
    Gate GateOf(const std::string& key) {
        std::lock_guard lock(mutex_);
        return gates[key];
    }

    std::mutex mutex_;
    std::vector<std::string> calls;
    std::map<std::string, Gate> gates;
    int running = 0;
    int peak_running = 0;
    std::vector<bool> progress_sent;  // what each ReportProgress returned
    std::vector<bool> log_sent;

private:
    nlohmann::ordered_json Run(const std::string& name, const nlohmann::json& arguments,
                               mcp::CallContext& context) {
        if (name == "echo") return mcp::TextToolResult(arguments.dump(), false);
        if (name == "throws") throw std::runtime_error("boom");
        if (name == "bad_result") return nlohmann::ordered_json::array();
        if (name == "progress") {
            for (const auto& step : arguments.value("steps", nlohmann::json::array())) {
                mcp::ProgressReport report;
                report.progress = step.value("progress", 0.0);
                if (step.contains("total")) report.total = step["total"].get<double>();
                report.message = step.value("message", "");
                const bool sent = context.ReportProgress(report);
                std::lock_guard lock(mutex_);
                progress_sent.push_back(sent);
            }
            return mcp::TextToolResult("done", false);
        }
        if (name == "log") {
            for (const auto& entry : arguments.value("entries", nlohmann::json::array())) {
                const auto level = mcp::ParseLogLevel(entry.value("level", ""));
                const bool sent =
                    context.Log(*level, nlohmann::ordered_json(entry["data"]), "fake");
                std::lock_guard lock(mutex_);
                log_sent.push_back(sent);
            }
            return mcp::TextToolResult("logged", false);
        }
        const std::string key = arguments.value("key", "");
        std::unique_lock lock(mutex_);
        gates[key].started = true;
        changed_.notify_all();
        changed_.wait(lock, context.StopToken(),
                      [&] { return gates[key].released || release_all_; });
        const bool stopped = !gates[key].released && !release_all_;
        gates[key].saw_stop = context.Stopped();
        gates[key].returned = true;
        changed_.notify_all();
        return mcp::TextToolResult((stopped ? "stopped " : "released ") + key, stopped);
    }

    std::condition_variable_any changed_;
    bool release_all_ = false;
};

inline std::string InitializeLine(std::string_view version = "2025-11-25") {
    nlohmann::json message = {{"jsonrpc", "2.0"},
                              {"id", "init"},
                              {"method", "initialize"},
                              {"params",
                               {{"protocolVersion", version},
                                {"capabilities", nlohmann::json::object()},
                                {"clientInfo", {{"name", "test"}, {"version", "1"}}}}}};
    return message.dump();
}

inline std::string InitializedLine() {
    return R"({"jsonrpc":"2.0","method":"notifications/initialized"})";
}

// A tools/call line; `id` and `meta` are JSON texts.
inline std::string CallLine(std::string_view id, std::string_view tool,
                            const nlohmann::json& arguments, std::string_view meta = "") {
    nlohmann::json params = {{"name", tool}, {"arguments", arguments}};
    if (!meta.empty()) params["_meta"] = nlohmann::json::parse(meta);
    nlohmann::json message = {{"jsonrpc", "2.0"},
                              {"id", nlohmann::json::parse(id)},
                              {"method", "tools/call"},
                              {"params", params}};
    return message.dump();
}

inline std::string CancelLine(std::string_view id) {
    return std::string(
               R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":)") +
           std::string(id) + R"(,"reason":"test"}})";
}

inline mcp::StdioOptions TestOptions(std::size_t max_calls = 32) {
    mcp::StdioOptions options;
    options.session.server_name = "MEmuFarm";
    options.session.server_version = "9.8.7";
    options.session.max_calls = max_calls;
    return options;
}

// A server running on its own thread over fake streams, initialized.
class ServerThread {
public:
    explicit ServerThread(mcp::StdioOptions options = TestOptions())
        : server_(host, input, output, diagnostics, std::move(options)) {
        input.PushLine(InitializeLine());
        input.PushLine(InitializedLine());
        thread_ = std::thread([this] { exit_code_ = server_.Run(); });
    }
    ~ServerThread() {
        host.ReleaseAll();
        input.Close();
        if (thread_.joinable()) thread_.join();
    }
    // Ends the input and waits for Run to return.
    int Finish() {
        input.Close();
        thread_.join();
        return exit_code_;
    }
    // Messages with this id, in the order they came.
    std::vector<nlohmann::json> WithId(const nlohmann::json& id) {
        std::vector<nlohmann::json> found;
        for (auto& message : output.Messages())
            if (message.contains("id") && message["id"] == id) found.push_back(message);
        return found;
    }

    FakeHost host;
    FakeInput input;
    FakeOutput output;
    FakeDiagnostics diagnostics;

private:
    mcp::StdioServer server_;
    std::thread thread_;
    int exit_code_ = -1;
};

}  // namespace mcp_test
