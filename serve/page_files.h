// The farm page's files as built into the program, and the headers every answer of the
// service carries: a Content-Security-Policy that runs only the page's own script (no inline
// script, nothing from another site), no sniffing of types, no Referer sent on.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serve {

struct PageFile {
    std::string_view bytes;
    const char* content_type = "";
};

// "/", "/page.css", "/page.js"; nothing for any other path.
const PageFile* FindPageFile(std::string_view path);

// index.html with the session's CSRF token in its <meta name="csrf">.
std::string PageHtml(std::string_view csrf);

using FixedHeaders = std::vector<std::pair<const char*, const char*>>;
const FixedHeaders& SecurityHeaders();

}  // namespace serve
