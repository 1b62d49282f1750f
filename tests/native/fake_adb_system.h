// A scripted adb server for the client's tests: each new socket plays the next connection of
// the script, records what it was sent, the port and every deadline it was given, and moves
// a fake clock to the deadline when it stalls.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "adb/adb_system.h"

enum class Stall { kNever, kConnect, kWrite, kAfterReplies };

// What the server does on one connection, and what the client did there.
struct FakeConnection {
    adb::IoStatus connect = adb::IoStatus::kOk;
    std::vector<std::string> replies;  // one read each; then the server closes, or stalls
    Stall stall = Stall::kNever;

    std::string sent;
    int port = 0;
    std::vector<double> deadlines;  // of every connect, write and read
};

inline FakeConnection Refused() {
    FakeConnection c;
    c.connect = adb::IoStatus::kRefused;
    return c;
}

inline FakeConnection Replies(std::vector<std::string> replies, Stall stall = Stall::kNever) {
    FakeConnection c;
    c.replies = std::move(replies);
    c.stall = stall;
    return c;
}

struct FakeFile {
    std::string path;
    std::string bytes;
    bool closed = false;
    bool discarded = false;
};

class FakeAdbSystem : public adb::AdbSystem {
public:
    explicit FakeAdbSystem(std::vector<FakeConnection> script = {}) {
        for (FakeConnection& c : script) script_.push_back(std::move(c));
    }

    // Plays the next scripted connection; without one, `when_unscripted` makes it.
    std::unique_ptr<adb::AdbSocket> NewSocket() override {
        std::lock_guard<std::mutex> lock(mutex_);
        FakeConnection next = script_.empty() ? when_unscripted() : std::move(script_.front());
        if (!script_.empty()) script_.pop_front();
        connections_.push_back(std::make_unique<FakeConnection>(std::move(next)));
        return std::make_unique<Socket>(*this, *connections_.back());
    }
    double Now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    std::unique_ptr<adb::ByteSink> CreateOutputFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refuse_files) return nullptr;
        files_.push_back(std::make_unique<FakeFile>());
        files_.back()->path = path;
        return std::make_unique<Sink>(*files_.back());
    }

    std::function<FakeConnection()> when_unscripted = [] { return Refused(); };
    bool refuse_files = false;

    const std::vector<std::unique_ptr<FakeConnection>>& connections() const { return connections_; }
    const std::vector<std::unique_ptr<FakeFile>>& files() const { return files_; }
    size_t unplayed() const { return script_.size(); }

private:
    class Socket : public adb::AdbSocket {
    public:
        Socket(FakeAdbSystem& system, FakeConnection& c) : system_(system), c_(c) {}
        adb::IoStatus Connect(int port, double deadline) override {
            c_.port = port;
            if (Expired(deadline) || c_.stall == Stall::kConnect) return Wait(deadline);
            return c_.connect;
        }
        adb::IoStatus Write(std::string_view bytes, double deadline) override {
            if (Expired(deadline) || c_.stall == Stall::kWrite) return Wait(deadline);
            c_.sent.append(bytes);
            return adb::IoStatus::kOk;
        }
        adb::IoStatus Read(std::string* bytes, double deadline) override {
            if (Expired(deadline)) return Wait(deadline);
            if (next_ < c_.replies.size()) {
                bytes->append(c_.replies[next_++]);
                return adb::IoStatus::kOk;
            }
            return c_.stall == Stall::kAfterReplies ? Wait(deadline) : adb::IoStatus::kClosed;
        }

    private:
        bool Expired(double deadline) {
            std::lock_guard<std::mutex> lock(system_.mutex_);
            c_.deadlines.push_back(deadline);
            return system_.now_ >= deadline;
        }
        // Nothing comes: the call returns when its deadline has passed.
        adb::IoStatus Wait(double deadline) {
            std::lock_guard<std::mutex> lock(system_.mutex_);
            if (system_.now_ < deadline) system_.now_ = deadline;
            return adb::IoStatus::kTimedOut;
        }

        FakeAdbSystem& system_;
        FakeConnection& c_;
        size_t next_ = 0;
    };

    class Sink : public adb::ByteSink {
    public:
        explicit Sink(FakeFile& file) : file_(file) {}
        bool Write(std::string_view bytes) override {
            file_.bytes.append(bytes);
            return true;
        }
        bool Close() override { return file_.closed = true; }
        void Discard() override { file_.discarded = true; }

    private:
        FakeFile& file_;
    };

    std::mutex mutex_;
    double now_ = 100.0;
    std::deque<FakeConnection> script_;
    std::vector<std::unique_ptr<FakeConnection>> connections_;
    std::vector<std::unique_ptr<FakeFile>> files_;
};
