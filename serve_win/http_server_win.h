// The HTTP side of MEmuFarm serve, on Boost.Beast: it reads each request within the bounds
// (header block, body, the time a client may take, the connections open at once), asks the
// portable front door what to do and carries out its answer. Each request is its own: a
// command runs on a thread of its own, so one hung tool holds only its request.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "serve/door.h"
#include "serve/mcp_http.h"
#include "serve/host_check.h"
#include "serve/page_service.h"
#include "serve/request_log.h"
#include "serve/run_call.h"

struct HttpServerSettings {
    serve::DoorSettings door;
    int max_calls = 1;  // /api/run requests running at once
    // Runs one /api/run body (read whole); as long as the command takes.
    std::function<serve::RunAnswer(const std::string& body, std::stop_token stop)> run;
    // Told of each request once it is answered or dropped (its status then 0).
    std::function<void(const serve::LogEntry& entry)> log;
    Utf8Of utf8;
    // POST and DELETE /mcp, when given (else answered as not served); and what is done at the
    // end while answers can still go out (the MCP sessions ended, their calls answered).
    serve::McpHttp* mcp = nullptr;
    std::function<void()> ending;
    // The farm page's doors (the page, its files, its state and pictures): quick, from memory.
    std::function<serve::PageReply(const serve::RequestHead&, const serve::DoorDecision&)> page;
};

class HttpServer {
public:
    explicit HttpServer(HttpServerSettings settings);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens; false with *problem (GBK) when the address cannot be had.
    bool Listen(const serve::ListenAddress& at, std::string* problem);
    uint16_t Port() const;

    // Serves until Stop(); then nothing new runs, the running commands are waited for (they
    // stop as at a Ctrl+C), their answers get a moment to go out, and it returns.
    void Run();
    // From any thread, once or more.
    void Stop();

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};
