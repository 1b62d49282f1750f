// POST and DELETE /mcp on a connection the front door let in: the socket handed over to the
// portable MCP side, which answers through it (a JSON answer, 202, or an event stream). The
// connection is watched while it waits, so that a client that goes away is told to the
// session (its call runs on; only notifications/cancelled stops it).
#pragma once

#include <boost/beast/core.hpp>

#include <functional>
#include <string>

#include "serve/door.h"
#include "serve/mcp_http.h"

// `done` is called once, when the answer went out or the client went away (status 0).
void AnswerMcp(boost::beast::tcp_stream stream, const serve::RequestHead& head,
               const std::string& body, serve::McpHttp& mcp,
               std::function<void(int status, const std::string& verdict)> done);
