#include "serve/page_files.h"

namespace serve {
namespace page_data {
extern const std::string_view IndexHtml;
extern const std::string_view PageCss;
extern const std::string_view PageJs;
}  // namespace page_data

namespace {

constexpr std::string_view kCsrfMark = "{{CSRF}}";

}  // namespace

const PageFile* FindPageFile(std::string_view path) {
    static const PageFile kHtml{page_data::IndexHtml, "text/html; charset=utf-8"};
    static const PageFile kCss{page_data::PageCss, "text/css; charset=utf-8"};
    static const PageFile kJs{page_data::PageJs, "text/javascript; charset=utf-8"};
    if (path == "/") return &kHtml;
    if (path == "/page.css") return &kCss;
    if (path == "/page.js") return &kJs;
    return nullptr;
}

std::string PageHtml(std::string_view csrf) {
    std::string html(page_data::IndexHtml);
    const std::size_t mark = html.find(kCsrfMark);
    if (mark != std::string::npos) html.replace(mark, kCsrfMark.size(), csrf);
    return html;
}

const FixedHeaders& SecurityHeaders() {
    static const FixedHeaders kHeaders = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        {"X-Frame-Options", "DENY"},
    };
    return kHeaders;
}

}  // namespace serve
