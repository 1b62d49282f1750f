#include "serve/mcp_sessions.h"

#include "mcp/json_rpc.h"

namespace serve {
namespace {

std::string MessageText(const nlohmann::ordered_json& message) {
    // Text that is not UTF-8 (from a tool) goes out with U+FFFD in its place.
    return message.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// The messages a session sends at once, on the thread that hands it one message, that answer
// no open exchange (an error to a message with no usable id) go to this thread's fallback.
thread_local McpExchange* t_fallback = nullptr;
thread_local const McpHttpSession* t_fallback_session = nullptr;

}  // namespace

void McpExchange::Deliver(const nlohmann::ordered_json& message, bool last) {
    std::lock_guard lock(mutex_);
    if (done_) return;
    if (!streaming_ && last) {
        HttpAnswer answer;
        answer.headers = headers_;
        answer.headers.emplace_back("Content-Type", "application/json");
        answer.body = MessageText(message);
        stream_->Answer(answer);
        done_ = true;
        stream_.reset();
        return;
    }
    if (!streaming_) {
        stream_->Begin(headers_);
        streaming_ = true;
    }
    stream_->Event(MessageText(message));
    if (last) {
        stream_->End();
        done_ = true;
        stream_.reset();
    }
}

void McpExchange::Close() {
    std::lock_guard lock(mutex_);
    if (done_) return;
    if (!streaming_) stream_->Begin(headers_);
    stream_->End();
    done_ = true;
    stream_.reset();
}

void McpExchange::Drop() {
    std::lock_guard lock(mutex_);
    done_ = true;
    stream_.reset();
}

bool McpExchange::Done() const {
    std::lock_guard lock(mutex_);
    return done_;
}

McpHttpSession::McpHttpSession(std::string id, mcp::ToolHost& host, mcp::Diagnostics& diagnostics,
                               mcp::SessionOptions options, std::int64_t now)
    : id_(std::move(id)),
      diagnostics_(diagnostics),
      last_used_(now),
      session_(host, *this, diagnostics, std::move(options)) {}

McpHttpSession::~McpHttpSession() {
    End();
}

bool McpHttpSession::Open(const nlohmann::json& request_id, std::shared_ptr<McpExchange> exchange) {
    const std::string key = request_id.dump();
    std::lock_guard lock(mutex_);
    auto& slot = open_[key];
    if (slot && !slot->Done()) return false;
    slot = std::move(exchange);
    return true;
}

void McpHttpSession::Receive(const nlohmann::json& message, McpExchange* fallback) {
    t_fallback = fallback;
    t_fallback_session = this;
    session_.Receive(message);
    t_fallback = nullptr;
    t_fallback_session = nullptr;
}

std::shared_ptr<McpExchange> McpHttpSession::ExchangeOf(const std::string& key, bool take) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(key);
    if (found == open_.end()) return nullptr;
    std::shared_ptr<McpExchange> exchange = found->second;
    if (take || exchange->Done()) open_.erase(found);
    return exchange->Done() ? nullptr : exchange;
}

void McpHttpSession::CloseExchange(const nlohmann::json& request_id) {
    if (auto exchange = ExchangeOf(request_id.dump(), true)) exchange->Close();
}

void McpHttpSession::Send(const nlohmann::ordered_json& message) {
    const auto id = message.find("id");
    const bool answer = id != message.end() && !message.contains("method");
    if (answer && !id->is_null()) {
        if (auto exchange = ExchangeOf(id->dump(), true)) return exchange->Deliver(message, true);
    }
    if (t_fallback && t_fallback_session == this) return t_fallback->Deliver(message, true);
    if (answer)
        diagnostics_.Note("the answer to request " + id->dump() +
                          " was dropped: its connection had closed");
}

void McpHttpSession::SendFor(const nlohmann::json& request_id,
                             const nlohmann::ordered_json& message) {
    if (auto exchange = ExchangeOf(request_id.dump(), false)) exchange->Deliver(message, false);
}

void McpHttpSession::End() {
    session_.Close();
    std::map<std::string, std::shared_ptr<McpExchange>> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(open_);
    }
    for (auto& entry : left) entry.second->Close();
}

bool McpHttpSession::Idle() const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : open_)
        if (!entry.second->Done()) return false;
    return true;
}

std::int64_t McpHttpSession::LastUsed() const {
    std::lock_guard lock(mutex_);
    return last_used_;
}

void McpHttpSession::Touch(std::int64_t now) {
    std::lock_guard lock(mutex_);
    last_used_ = now;
}

std::optional<std::string> NewSessionId(RandomSource& random) {
    unsigned char bytes[16];
    if (!random.Fill(bytes, sizeof bytes)) return std::nullopt;
    constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char byte : bytes) {
        id += kHex[byte >> 4];
        id += kHex[byte & 15];
    }
    return id;
}

McpSessionTable::McpSessionTable(McpSessionLimits limits, RandomSource& random, Maker make)
    : limits_(limits), random_(random), make_(std::move(make)) {}

void McpSessionTable::Expire(std::int64_t now,
                             std::vector<std::shared_ptr<McpHttpSession>>* ended) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        // A session waiting for an answer is in use: its idle time starts again.
        if (!it->second->Idle()) it->second->Touch(now);
        if (now - it->second->LastUsed() >= limits_.idle_seconds) {
            ended->push_back(it->second);
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

std::shared_ptr<McpHttpSession> McpSessionTable::Create(
    std::int64_t now, std::vector<std::shared_ptr<McpHttpSession>>* ended) {
    std::lock_guard lock(mutex_);
    Expire(now, ended);
    if (sessions_.size() >= limits_.max_sessions) return nullptr;
    std::optional<std::string> id = NewSessionId(random_);
    if (!id || sessions_.count(*id)) return nullptr;
    std::shared_ptr<McpHttpSession> session = make_(*id);
    session->Touch(now);
    sessions_.emplace(*id, session);
    return session;
}

std::shared_ptr<McpHttpSession> McpSessionTable::Find(
    std::string_view id, std::int64_t now, std::vector<std::shared_ptr<McpHttpSession>>* ended) {
    std::lock_guard lock(mutex_);
    Expire(now, ended);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return nullptr;
    found->second->Touch(now);
    return found->second;
}

std::shared_ptr<McpHttpSession> McpSessionTable::Remove(std::string_view id) {
    std::lock_guard lock(mutex_);
    const auto found = sessions_.find(id);
    if (found == sessions_.end()) return nullptr;
    std::shared_ptr<McpHttpSession> session = found->second;
    sessions_.erase(found);
    return session;
}

std::vector<std::shared_ptr<McpHttpSession>> McpSessionTable::RemoveAll() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<McpHttpSession>> all;
    for (auto& entry : sessions_) all.push_back(entry.second);
    sessions_.clear();
    return all;
}

std::size_t McpSessionTable::Count() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

}  // namespace serve
