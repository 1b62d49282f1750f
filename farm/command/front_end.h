// Which front ends offer a verb or an option: the console offers every one; a server may hold
// some back (--install-dir and --json mean nothing to a server, which finds the install once
// and always answers with the document).
#pragma once

enum FrontEnd : unsigned {
    kConsoleFrontEnd = 1,
    kMcpFrontEnd = 2,
    kServeFrontEnd = 4,
};
inline constexpr unsigned kEveryFrontEnd = kConsoleFrontEnd | kMcpFrontEnd | kServeFrontEnd;
