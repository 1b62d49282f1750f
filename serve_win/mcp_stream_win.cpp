#include "serve_win/mcp_stream_win.h"

#include <boost/asio.hpp>

#include <array>
#include <deque>
#include <memory>
#include <utility>

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

namespace {

// How long one write may take to go out.
constexpr auto kWriteTime = std::chrono::seconds(30);

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 202:
            return "Accepted";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string HeadText(int status, const serve::HeaderList& headers) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    head += "Server: MEmuFarm\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
    head += "Connection: close\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    return head;
}

// One connection's answer, written in order on the connection's strand; any thread may call.
class SocketStream : public serve::McpStream, public std::enable_shared_from_this<SocketStream> {
public:
    SocketStream(beast::tcp_stream stream,
                 std::function<void(int status, const std::string& verdict)> done)
        : stream_(std::move(stream)), done_(std::move(done)) {}

    // On the connection's strand, before any of its answer is written (that is posted).
    void Start(serve::McpPostHandle handle, std::string verdict) {
        handle_ = std::move(handle);
        verdict_ = std::move(verdict);
        net::post(stream_.get_executor(), [self = shared_from_this()] { self->Watch(); });
    }

    void Answer(const serve::HttpAnswer& answer) override {
        std::string text = HeadText(answer.status, answer.headers) +
                           "Content-Length: " + std::to_string(answer.body.size()) + "\r\n\r\n" +
                           answer.body;
        OnStrand([text = std::move(text), status = answer.status](SocketStream& self) mutable {
            self.status_ = status;
            self.queue_.push_back(std::move(text));
            self.closing_ = true;
        });
    }
    void Begin(const serve::HeaderList& headers) override {
        std::string text = HeadText(200, headers) + "Content-Type: text/event-stream\r\n\r\n";
        OnStrand([text = std::move(text)](SocketStream& self) mutable {
            self.status_ = 200;
            self.queue_.push_back(std::move(text));
        });
    }
    void Event(const std::string& message) override {
        std::string text = "event: message\ndata: " + message + "\n\n";
        OnStrand([text = std::move(text)](SocketStream& self) mutable {
            self.queue_.push_back(std::move(text));
        });
    }
    void End() override {
        OnStrand([](SocketStream& self) { self.closing_ = true; });
    }

private:
    template <typename Change>
    void OnStrand(Change change) {
        net::post(stream_.get_executor(),
                  [self = shared_from_this(), change = std::move(change)]() mutable {
                      if (self->finished_) return;
                      change(*self);
                      self->Pump();
                  });
    }

    void Pump() {
        if (writing_ || finished_) return;
        if (queue_.empty()) {
            if (closing_) Finish();
            return;
        }
        writing_ = true;
        stream_.expires_after(kWriteTime);
        // The text written stays in the queue until this write has ended, whatever ends it.
        net::async_write(stream_, net::buffer(queue_.front()),
                         [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
                             self->writing_ = false;
                             if (self->finished_) return;
                             self->queue_.pop_front();
                             if (ec) return self->Gone();
                             // The client closed while this went out: done if it was the last.
                             if (self->peer_closed_ && !(self->closing_ && self->queue_.empty()))
                                 return self->Gone();
                             self->Pump();
                         });
    }

    // Reads what the client may still send, only to learn when it goes away.
    void Watch() {
        if (finished_) return;
        stream_.socket().async_read_some(
            net::buffer(scrap_),
            [self = shared_from_this()](boost::system::error_code ec, std::size_t) {
                if (self->finished_) return;
                if (!ec) return self->Watch();
                // A write under way ends by itself, and tells whether the answer went out.
                if (self->writing_) {
                    self->peer_closed_ = true;
                    return;
                }
                self->Gone();
            });
    }

    void Gone() {
        if (finished_) return;
        handle_.Dropped();
        verdict_ = "went away";
        status_ = 0;
        Finish();
    }

    void Finish() {
        finished_ = true;
        boost::system::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
        if (done_) done_(status_, verdict_);
        done_ = nullptr;
        // The exchange holds this stream while it is open: neither outlives the connection.
        handle_ = serve::McpPostHandle();
    }

    beast::tcp_stream stream_;
    std::function<void(int status, const std::string& verdict)> done_;
    serve::McpPostHandle handle_;
    std::string verdict_;
    std::deque<std::string> queue_;
    std::array<char, 512> scrap_;
    int status_ = 0;
    bool writing_ = false;
    bool closing_ = false;
    bool peer_closed_ = false;
    bool finished_ = false;
};

}  // namespace

void AnswerMcp(beast::tcp_stream stream, const serve::RequestHead& head, const std::string& body,
               serve::McpHttp& mcp,
               std::function<void(int status, const std::string& verdict)> done) {
    stream.expires_never();
    auto socket = std::make_shared<SocketStream>(std::move(stream), std::move(done));
    std::string verdict;
    if (head.method == "DELETE") {
        socket->Answer(mcp.Delete(head, &verdict));
        socket->Start(serve::McpPostHandle(), verdict);
        return;
    }
    serve::McpPostHandle handle = mcp.Post(head, body, socket, &verdict);
    socket->Start(std::move(handle), verdict);
}
