// A request's header fields as the front door reads them: names without regard to case, one
// value each, and a note of every name that came more than once (a second Host or
// Authorization is refused, never guessed between).
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace serve {

// ASCII-only case folding: header names, schemes, media types and host names are ASCII.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
std::string LowerAscii(std::string_view text);

struct CaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

class Headers {
public:
    // Keeps the first value of a name; a later one only marks the name as repeated. Blanks and
    // tabs around the value are dropped, as HTTP reads them.
    void Add(std::string_view name, std::string_view value);
    std::optional<std::string_view> Find(std::string_view name) const;
    bool Repeated(std::string_view name) const { return repeated_.count(name) > 0; }

private:
    std::map<std::string, std::string, CaseLess> values_;
    std::set<std::string, CaseLess> repeated_;
};

}  // namespace serve
