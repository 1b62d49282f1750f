// An adb server for the console companion's tests, over the farm's fake clock: it reads the
// framed requests a client sends, answers each device request from a function of the serial
// and the service, and records every request with its serial and how long it was given. A
// request that hangs moves the clock to its deadline. Files the client writes stay in memory.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "adb/adb_codec.h"
#include "adb/adb_system.h"

// The 1x1 picture the fake device's screencap sends: a PNG signature and then some bytes.
inline const std::string kFakePng = std::string("\x89PNG\r\n\x1a\n", 8) + "IHDR...IEND";

struct DeviceReply {
    enum class Kind { kOkay, kFail, kHang } kind = Kind::kOkay;
    std::string text;  // kOkay: the output; kFail: the message
    double after = 0;  // seconds on the fake clock before the answer comes
};

inline DeviceReply Okay(std::string output) {
    return {DeviceReply::Kind::kOkay, std::move(output)};
}
inline DeviceReply Fail(std::string message) {
    return {DeviceReply::Kind::kFail, std::move(message)};
}
inline DeviceReply Hang() {
    return {DeviceReply::Kind::kHang, ""};
}
// An answer that comes `seconds` after the request; a client that gives up sooner sees none.
inline DeviceReply Late(double seconds, std::string output) {
    return {DeviceReply::Kind::kOkay, std::move(output), seconds};
}

// One device request: "shell:input tap 1 2" to "127.0.0.1:21513", given `seconds` to answer.
struct DeviceRequest {
    std::string serial;
    std::string service;
    double seconds = 0;
};

struct WrittenFile {
    std::string bytes;
    bool closed = false;
    bool gone = false;  // discarded by the client or removed by the program
};

class FakeAdbServer : public adb::AdbSystem {
public:
    FakeAdbServer(std::function<double()> now, std::function<void(double)> wait_until)
        : now_(std::move(now)), wait_until_(std::move(wait_until)) {}

    bool listening = true;  // false: every connect is refused
    // How a device answers; by default as a booted device does.
    std::function<DeviceReply(const std::string& serial, const std::string& service)> answer =
        [](const std::string&, const std::string& service) {
            if (service == "shell:getprop sys.boot_completed") return Okay("1\n");
            if (service.rfind("shell:pm clear ", 0) == 0) return Okay("Success\n");
            if (service == "exec:screencap -p") return Okay(kFakePng);
            return Okay("");
        };

    std::vector<DeviceRequest> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> Services() {
        std::vector<std::string> services;
        for (const DeviceRequest& request : Requests()) services.push_back(request.service);
        return services;
    }
    int Connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_;
    }
    // The file at `path` as the program left it; null when it was never written.
    std::unique_ptr<WrittenFile> File(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = files_.find(path);
        if (found == files_.end()) return nullptr;
        return std::make_unique<WrittenFile>(*found->second);
    }
    void Remove(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = files_.find(path);
        if (found != files_.end()) found->second->gone = true;
    }

    std::unique_ptr<adb::AdbSocket> NewSocket() override { return std::make_unique<Socket>(*this); }
    double Now() override { return now_(); }
    std::unique_ptr<adb::ByteSink> CreateOutputFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto file = std::make_shared<WrittenFile>();
        files_[path] = file;
        return std::make_unique<Sink>(std::move(file));
    }

private:
    class Socket : public adb::AdbSocket {
    public:
        explicit Socket(FakeAdbServer& server) : server_(server) {}
        adb::IoStatus Connect(int, double) override {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            ++server_.connections_;
            return server_.listening ? adb::IoStatus::kOk : adb::IoStatus::kRefused;
        }
        adb::IoStatus Write(std::string_view bytes, double deadline) override {
            received_.append(bytes);
            while (received_.size() >= 4) {
                const std::optional<size_t> length = adb::ParseHexLength(received_.substr(0, 4));
                if (!length || received_.size() < 4 + *length) break;
                Serve(received_.substr(4, *length), deadline);
                received_.erase(0, 4 + *length);
            }
            return adb::IoStatus::kOk;
        }
        adb::IoStatus Read(std::string* bytes, double deadline) override {
            if (!reply_.empty() && late_by_ > 0) {
                const double answer_at = server_.now_() + late_by_;
                if (answer_at > deadline) {
                    server_.wait_until_(deadline);
                    return adb::IoStatus::kTimedOut;
                }
                server_.wait_until_(answer_at);
                late_by_ = 0;
            }
            if (!reply_.empty()) {
                bytes->append(reply_);
                reply_.clear();
                return adb::IoStatus::kOk;
            }
            if (closed_) return adb::IoStatus::kClosed;
            server_.wait_until_(deadline);  // nothing comes
            return adb::IoStatus::kTimedOut;
        }

    private:
        void Serve(const std::string& request, double deadline) {
            const std::string transport = "host:transport:";
            if (request.rfind(transport, 0) == 0) {
                serial_ = request.substr(transport.size());
                reply_ = "OKAY";
                return;
            }
            if (request.rfind("host:connect:", 0) == 0) {
                reply_ = "OKAY" + *adb::FrameRequest("connected to " + request.substr(13));
                closed_ = true;
                return;
            }
            {
                std::lock_guard<std::mutex> lock(server_.mutex_);
                server_.requests_.push_back({serial_, request, deadline - server_.now_()});
            }
            const DeviceReply answer = server_.answer(serial_, request);
            if (answer.kind == DeviceReply::Kind::kHang) return;
            late_by_ = answer.after;
            closed_ = true;
            reply_ = answer.kind == DeviceReply::Kind::kOkay
                         ? "OKAY" + answer.text
                         : "FAIL" + *adb::FrameRequest(answer.text);
        }

        FakeAdbServer& server_;
        std::string received_;
        std::string reply_;
        std::string serial_;
        double late_by_ = 0;
        bool closed_ = false;
    };

    class Sink : public adb::ByteSink {
    public:
        explicit Sink(std::shared_ptr<WrittenFile> file) : file_(std::move(file)) {}
        bool Write(std::string_view bytes) override {
            file_->bytes.append(bytes);
            return true;
        }
        bool Close() override { return file_->closed = true; }
        void Discard() override { file_->gone = true; }

    private:
        std::shared_ptr<WrittenFile> file_;
    };

    std::function<double()> now_;
    std::function<void(double)> wait_until_;
    std::mutex mutex_;
    std::vector<DeviceRequest> requests_;
    int connections_ = 0;
    std::map<std::string, std::shared_ptr<WrittenFile>> files_;
};
