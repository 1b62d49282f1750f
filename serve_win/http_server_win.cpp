#include "serve_win/http_server_win.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "farm/command/limits.h"
#include "farm/report/outcome_document.h"
#include "serve_win/mcp_stream_win.h"
#include "serve/page_files.h"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// Threads that read and write; the commands run on threads of their own.
constexpr int kIoThreads = 2;
// How long a written answer may take to go out, and how long the answers of the commands
// that ran at a stop are given before the server ends.
constexpr auto kWriteTime = std::chrono::seconds(30);
constexpr auto kLastAnswersTime = std::chrono::seconds(2);

std::chrono::milliseconds Seconds(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

}  // namespace

class HttpServer::Impl {
public:
    explicit Impl(HttpServerSettings settings) : settings_(std::move(settings)), acceptor_(io_) {}
    ~Impl() {
        boost::system::error_code ignored;
        acceptor_.close(ignored);
    }

    bool Listen(const serve::ListenAddress& at, std::string* problem) {
        boost::system::error_code ec;
        const net::ip::address address = net::ip::make_address(at.host, ec);
        if (ec) {
            *problem = at.host + " is no IP address";
            return false;
        }
        const tcp::endpoint endpoint(address, at.port);
        acceptor_.open(endpoint.protocol(), ec);
        // Only this program may listen on the port: no second server takes its connections.
        if (!ec) {
            BOOL exclusive = TRUE;
            setsockopt(acceptor_.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                       reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
        }
        if (!ec) acceptor_.bind(endpoint, ec);
        if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            *problem =
                "cannot listen on " + at.host + ":" + std::to_string(at.port) + ": " + ec.message();
            return false;
        }
        port_ = acceptor_.local_endpoint(ec).port();
        return true;
    }

    uint16_t Port() const { return port_; }

    void Run() {
        Accept();
        std::vector<std::thread> threads;
        auto work = net::make_work_guard(io_);
        for (int i = 0; i < kIoThreads; ++i) threads.emplace_back([this] { io_.run(); });
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_.load(); });
            // Nothing new: the commands that run stop as at a Ctrl+C.
            changed_.wait(lock, [this] { return calls_.load() == 0; });
            if (settings_.ending) {
                lock.unlock();
                settings_.ending();
                lock.lock();
            }
            changed_.wait_for(lock, kLastAnswersTime, [this] { return open_.load() == 0; });
        }
        io_.stop();
        for (std::thread& thread : threads) thread.join();
    }

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            if (stopping_.exchange(true)) return;
        }
        stop_.request_stop();
        net::post(io_, [this] {
            boost::system::error_code ignored;
            acceptor_.close(ignored);
        });
        changed_.notify_all();
    }

    const HttpServerSettings& Settings() const { return settings_; }
    bool Stopping() const { return stopping_.load(); }
    std::stop_token StopToken() const { return stop_.get_token(); }

    void Opened() { ++open_; }
    void Closed() {
        std::lock_guard lock(mutex_);
        --open_;
        changed_.notify_all();
    }
    // A place for one more command, when there is one.
    bool EnterCall() {
        if (calls_.fetch_add(1) >= settings_.max_calls) {
            LeaveCall();
            return false;
        }
        return true;
    }
    // Under the lock, so that Run() cannot end between the count and the word.
    void LeaveCall() {
        std::lock_guard lock(mutex_);
        --calls_;
        changed_.notify_all();
    }

private:
    void Accept();

    HttpServerSettings settings_;
    uint16_t port_ = 0;
    std::stop_source stop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0};
    std::atomic<int> calls_{0};
    // Last but the acceptor: the sessions it still holds at the end count themselves closed.
    net::io_context io_;
    tcp::acceptor acceptor_;
};

namespace {

// One connection, one request: read, decide, answer, close.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(HttpServer::Impl& server, tcp::socket socket, bool counted)
        : server_(server), stream_(std::move(socket)), counted_(counted) {
        if (counted_) server_.Opened();
        boost::system::error_code ec;
        const tcp::endpoint peer = stream_.socket().remote_endpoint(ec);
        if (!ec) {
            const std::string address = peer.address().to_string();
            entry_.peer = (peer.address().is_v6() ? "[" + address + "]" : address) + ":" +
                          std::to_string(peer.port());
        }
    }
    ~Session() {
        if (counted_) server_.Closed();
    }

    void Start() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(serve::kMostHeaderBytes));
        // No body limit yet: a Content-Length past it is the door's to refuse, after the Host,
        // the Origin and the token (the parser would refuse it before any of them).
        parser_->body_limit(boost::none);
        stream_.expires_after(Seconds(kServeHeaderSeconds));
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&Session::OnHeader, shared_from_this()));
    }

    // The connection past the most open at once: told so, not read.
    void Refuse() {
        entry_.verdict = "too many connections";
        Reply(serve::TooManyConnectionsReply(kServeConnections, Settings().utf8));
    }

private:
    const HttpServerSettings& Settings() const { return server_.Settings(); }

    void OnHeader(boost::system::error_code ec, std::size_t header_bytes) {
        head_.header_bytes = header_bytes;
        if (ec == http::error::header_limit) {
            head_.header_bytes = serve::kMostHeaderBytes + 1;
            return Refused(serve::DecideDoor(head_, Settings().door));
        }
        if (ec) return Dropped(ec);
        const auto& request = parser_->get();
        head_.method = std::string(request.method_string());
        head_.target = std::string(request.target());
        for (const auto& field : request) head_.headers.Add(field.name_string(), field.value());
        head_.body_bytes = parser_->content_length().value_or(0);
        entry_.method = head_.method;
        entry_.target = head_.target;

        const serve::DoorDecision decision = serve::DecideDoor(head_, Settings().door);
        entry_.door = decision.door;
        if (!decision.go_on) return Refused(decision);
        switch (*decision.door) {
            case serve::Door::kHealth:
                entry_.verdict = "ok";
                return Reply(serve::HealthReply());
            case serve::Door::kRun:
                if (server_.Stopping()) return Stopping();
                if (parser_->is_done()) return OnBody({}, 0);
                parser_->body_limit(serve::RowOf(serve::Door::kRun).most_body_bytes);
                stream_.expires_after(Seconds(kServeBodySeconds));
                return http::async_read(
                    stream_, buffer_, *parser_,
                    beast::bind_front_handler(&Session::OnBody, shared_from_this()));
            case serve::Door::kMcpPost:
            case serve::Door::kMcpEnd:
                if (!Settings().mcp) break;
                if (server_.Stopping()) return Stopping();
                if (parser_->is_done()) return OnMcpBody({}, 0);
                parser_->body_limit(serve::RowOf(*decision.door).most_body_bytes);
                stream_.expires_after(Seconds(kServeBodySeconds));
                return http::async_read(
                    stream_, buffer_, *parser_,
                    beast::bind_front_handler(&Session::OnMcpBody, shared_from_this()));
            case serve::Door::kPage:
            case serve::Door::kPageFile:
            case serve::Door::kPageState:
            case serve::Door::kPageImage:
                if (Settings().page) return ReplyPage(Settings().page(head_, decision));
                [[fallthrough]];
            default:
                break;
        }
        entry_.verdict = "not served yet";
        Reply(serve::NotServedYetReply(serve::RowOf(*decision.door), Settings().utf8));
    }

    // The connection goes to the MCP side, this session with it until its answer is out.
    void OnMcpBody(boost::system::error_code ec, std::size_t) {
        if (ec == http::error::body_limit) {
            head_.body_bytes = serve::kMostBodyBytes + 1;
            return Refused(serve::DecideDoor(head_, Settings().door));
        }
        if (ec) return Dropped(ec);
        if (server_.Stopping()) return Stopping();
        AnswerMcp(std::move(stream_), head_, parser_->get().body(), *Settings().mcp,
                  [self = shared_from_this()](int status, const std::string& verdict) {
                      self->entry_.verdict = verdict;
                      self->Log(status);
                  });
    }

    void OnBody(boost::system::error_code ec, std::size_t) {
        if (ec == http::error::body_limit) {
            head_.body_bytes = serve::kMostBodyBytes + 1;
            return Refused(serve::DecideDoor(head_, Settings().door));
        }
        if (ec) return Dropped(ec);
        if (server_.Stopping()) return Stopping();
        if (!server_.EnterCall()) {
            entry_.verdict = "busy";
            return Reply(serve::BusyReply(Settings().max_calls, Settings().utf8));
        }
        stream_.expires_never();
        std::string body = std::move(parser_->get().body());
        auto self = shared_from_this();
        // The command on a thread of its own; its answer goes out on the connection's.
        std::thread([self, body = std::move(body)]() mutable {
            HttpServer::Impl& server = self->server_;
            std::optional<serve::RunAnswer> answer;
            try {
                answer = server.Settings().run(body, server.StopToken());
            } catch (const std::exception& e) {
                answer.emplace();
                answer->verdict = std::string("the server failed: ") + e.what();
                answer->reply = serve::ReplyToRun(
                    FailureDocument(kExitFailed, answer->verdict, server.Settings().utf8),
                    kExitFailed);
            }
            // The session goes with its answer: this thread holds nothing of it past here.
            auto executor = self->stream_.get_executor();
            net::post(executor, [self = std::move(self), answer = std::move(*answer)] {
                self->entry_.command = answer.command;
                self->entry_.verdict = answer.verdict;
                self->Reply(answer.reply);
            });
            server.LeaveCall();
        }).detach();
    }

    void Refused(const serve::DoorDecision& decision) {
        entry_.door = decision.door;
        entry_.verdict = decision.reason;
        Reply(serve::DoorReply(decision.status, decision.reason, Settings().utf8), decision.allow);
    }

    void Stopping() {
        entry_.verdict = "stopping";
        Reply(serve::StoppingReply(Settings().utf8));
    }

    // A client that went away, stalled past its time, or sent no HTTP.
    void Dropped(boost::system::error_code ec) {
        if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
            ec == net::error::eof || ec == net::error::connection_reset ||
            ec == net::error::operation_aborted || !stream_.socket().is_open()) {
            entry_.verdict = ec == beast::error::timeout ? "timed out" : "went away";
            Log(0);
            return;
        }
        entry_.verdict = "no HTTP: " + ec.message();
        Reply(serve::NotHttpReply(Settings().utf8));
    }

    void Reply(const serve::RunReply& reply, const std::string& allow = {}) {
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(11);
        response->result(static_cast<unsigned>(reply.status));
        response->set(http::field::server, "MEmuFarm");
        response->set(http::field::content_type, "application/json; charset=utf-8");
        response->set(http::field::cache_control, "no-store");
        for (const auto& [name, value] : serve::SecurityHeaders()) response->set(name, value);
        if (!allow.empty()) response->set(http::field::allow, allow);
        response->keep_alive(false);
        response->body() = DocumentText(reply.body);
        Send(response, reply.status);
    }

    void ReplyPage(serve::PageReply reply) {
        auto response = std::make_shared<http::response<http::string_body>>();
        response->version(11);
        response->result(static_cast<unsigned>(reply.status));
        response->set(http::field::server, "MEmuFarm");
        if (!reply.content_type.empty())
            response->set(http::field::content_type, reply.content_type);
        for (const auto& [name, value] : serve::SecurityHeaders()) response->set(name, value);
        for (const auto& [name, value] : reply.headers) response->set(name, value);
        response->keep_alive(false);
        response->body() = std::move(reply.body);
        entry_.verdict = std::move(reply.verdict);
        Send(response, reply.status);
    }

    void Send(const std::shared_ptr<http::response<http::string_body>>& response, int status) {
        response->prepare_payload();
        Log(status);
        stream_.expires_after(kWriteTime);
        http::async_write(
            stream_, *response,
            [self = shared_from_this(), response](boost::system::error_code, std::size_t) {
                boost::system::error_code ignored;
                self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
                self->stream_.close();
            });
    }

    void Log(int status) {
        entry_.status = status;
        if (Settings().log) Settings().log(entry_);
    }

    HttpServer::Impl& server_;
    beast::tcp_stream stream_;
    const bool counted_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    serve::RequestHead head_;
    serve::LogEntry entry_;
};

}  // namespace

void HttpServer::Impl::Accept() {
    acceptor_.async_accept(
        net::make_strand(io_), [this](boost::system::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
            if (!ec) {
                // Answers go out as they are written: an event stream writes its head and each
                // event apart, which Nagle's rule would hold back for the client's delayed ACK.
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                if (open_.load() >= kServeConnections) {
                    std::make_shared<Session>(*this, std::move(socket), false)->Refuse();
                } else {
                    std::make_shared<Session>(*this, std::move(socket), true)->Start();
                }
            }
            Accept();
        });
}

HttpServer::HttpServer(HttpServerSettings settings)
    : impl_(std::make_unique<Impl>(std::move(settings))) {}
HttpServer::~HttpServer() = default;
bool HttpServer::Listen(const serve::ListenAddress& at, std::string* problem) {
    return impl_->Listen(at, problem);
}
uint16_t HttpServer::Port() const {
    return impl_->Port();
}
void HttpServer::Run() {
    impl_->Run();
}
void HttpServer::Stop() {
    impl_->Stop();
}
