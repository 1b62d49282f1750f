#include "agent/tool_arguments.h"

#include <cctype>
#include <map>
#include <vector>

#include "farm/command/argument_reading.h"
#include "text/gbk_text.h"

namespace agent {

namespace {

using Json = nlohmann::json;

// The value of one property as read: a flag's truth, the words of adb's ARGS, or one text.
struct Given {
    bool flag = false;
    std::vector<std::string> words;
    std::string text;
};

bool IsAbsolute(const std::string& path) {
    return (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
            path[1] == ':') ||
           (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
            (path[1] == '\\' || path[1] == '/'));
}

class Reader {
public:
    Reader(const Tool& tool, const OwnerLimits& limits, const ArgumentContext& context)
        : tool_(tool), verb_(*tool.verb), limits_(limits), context_(context) {}

    ReadRequest Read(const Json& arguments) {
        if (!arguments.is_object()) return Refuse("the arguments must be an object");
        for (auto item = arguments.begin(); item != arguments.end(); ++item) {
            const Parameter* parameter = Find(item.key());
            if (!parameter)
                return Refuse("unknown argument " + gbk::Quoted(Gbk(item.key())) + " for " +
                              verb_.name);
            if (item.value().is_null()) continue;  // as if not given
            if (std::optional<std::string> problem = Take(*parameter, item.value()))
                return Refuse(*problem);
        }
        request_ = NewRequest(verb_);
        if (std::optional<std::string> problem = ReadArguments()) return Refuse(*problem);
        if (std::optional<std::string> problem = ReadOptions()) return Refuse(*problem);
        ReadRequest read;
        read.request = std::move(request_);
        return read;
    }

private:
    const Parameter* Find(const std::string& property) const {
        for (const Parameter& parameter : tool_.parameters)
            if (PropertyName(parameter) == property) return &parameter;
        return nullptr;
    }

    std::string Gbk(const std::string& utf8) const { return context_.gbk_of(utf8).value_or("?"); }

    // One property's value, checked for its JSON kind and its characters only: what it says
    // is read by the rows, as the console reads the word.
    std::optional<std::string> Take(const Parameter& parameter, const Json& value) {
        Given given;
        if (parameter.kind == ParameterKind::kFlag) {
            if (!value.is_boolean()) return parameter.name + " must be true or false";
            given.flag = value.get<bool>();
            if (!given.flag) return std::nullopt;  // false: not given
        } else if (parameter.kind == ParameterKind::kWords) {
            if (!value.is_array()) return parameter.name + " must be an array of texts";
            for (const Json& word : value) {
                if (!word.is_string()) return parameter.name + " must be an array of texts";
                std::optional<std::string> gbk = context_.gbk_of(word.get<std::string>());
                if (!gbk) return Unconvertible(parameter);
                given.words.push_back(std::move(*gbk));
            }
        } else {
            std::string utf8;
            if (std::optional<std::string> problem = ValueText(value, &utf8))
                return parameter.name + " " + *problem;
            std::optional<std::string> gbk = context_.gbk_of(utf8);
            if (!gbk) return Unconvertible(parameter);
            given.text = std::move(*gbk);
            if (NamesLocalFile(parameter) && !given.text.empty()) {
                if (std::optional<std::string> problem = PlaceFile(parameter, given.text))
                    return problem;
            }
        }
        if (parameter.is_option) {
            options_[parameter.option] = std::move(given);
        } else {
            arguments_[parameter.name] = std::move(given);
        }
        return std::nullopt;
    }

    static std::string Unconvertible(const Parameter& parameter) {
        return parameter.name +
               " holds characters that the emulator's tools cannot receive (code page 936)";
    }

    // A file the call names: inside the owner's folder with --files (a relative path is taken
    // from there), else from the server's current folder.
    std::optional<std::string> PlaceFile(const Parameter& parameter, std::string& path) const {
        if (!limits_.files) {
            if (context_.full_path) path = context_.full_path(path);
            return std::nullopt;
        }
        const std::string& folder = *limits_.files;
        const std::string full = IsAbsolute(path) ? path : folder + "\\" + path;
        const std::optional<std::string> inside = PathInside(folder, full);
        if (!inside)
            return parameter.name + " must be a file inside " + folder +
                   " (the server's --files), not " + gbk::Quoted(path);
        path = *inside;
        return std::nullopt;
    }

    bool OptionGivenNow(const OptionRow& option) const {
        const auto found = options_.find(&option);
        return found != options_.end() && (option.value_name ? true : found->second.flag);
    }

    // As the console: every argument that is missing first, then each in order.
    std::optional<std::string> ReadArguments() {
        const std::vector<Slot> slots = VerbArguments(verb_);
        for (const Slot& slot : slots) {
            if (slot.kind == SlotKind::kArgs || Has(slot) || ArgumentIsOptional(verb_, slot))
                continue;
            return "missing " + std::string(slot.name);
        }
        for (const Slot& slot : slots) {
            if (slot.kind == SlotKind::kArgs) {
                const auto found = arguments_.find(slot.name);
                if (found == arguments_.end() || found->second.words.empty())
                    return std::string("missing ARGS");
                request_.texts = found->second.words;
                break;
            }
            const bool given = Has(slot);
            if (std::optional<std::string> problem = StandInProblem(verb_, slot, given, given_))
                return problem;
            if (!given) {
                if (slot.if_empty) request_.texts.push_back(slot.if_empty);
                continue;
            }
            if (std::optional<std::string> problem =
                    ReadArgument(verb_, slot, TextOf(slot), request_))
                return problem;
        }
        return std::nullopt;
    }

    // Given by the call, or the server's own capture file standing in for it.
    bool Has(const Slot& slot) const { return arguments_.count(slot.name) > 0 || Captured(slot); }
    bool Captured(const Slot& slot) const {
        return tool_.captures_to_temp && slot.kind == SlotKind::kLocalPath;
    }
    std::string TextOf(const Slot& slot) const {
        if (Captured(slot)) return context_.capture_file;
        return arguments_.at(slot.name).text;
    }

    std::optional<std::string> ReadOptions() {
        std::vector<const OptionRow*> options = GlobalOptions();
        for (const OptionRow* option : OptionsOf(verb_)) options.push_back(option);
        for (const OptionRow* option : options) {
            if (!OptionGivenNow(*option)) {
                if (option->required && Offers(*option))
                    return "missing " + OptionUsage(*option, false);
                continue;
            }
            OptionValue value;
            if (option->value_name)
                if (std::optional<std::string> problem =
                        ReadOptionValue(*option, options_.at(option).text, &value))
                    return problem;
            if (std::optional<std::string> missing = MissingNeed(verb_, *option, given_))
                return missing;
            if (std::optional<std::string> excluded = Exclusion(verb_, *option, given_))
                return excluded;
            option->store(request_, value);
        }
        return std::nullopt;
    }

    bool Offers(const OptionRow& option) const {
        for (const Parameter& parameter : tool_.parameters)
            if (parameter.option == &option) return true;
        return false;
    }

    ReadRequest Refuse(std::string message) const {
        ReadRequest read;
        read.refusal = std::move(message);
        return read;
    }

    const Tool& tool_;
    const VerbRow& verb_;
    const OwnerLimits& limits_;
    const ArgumentContext& context_;
    std::map<std::string, Given> arguments_;  // by the argument's name
    std::map<const OptionRow*, Given> options_;
    const OptionGiven given_ = [this](const OptionRow& option) { return OptionGivenNow(option); };
    FarmRequest request_;
};

}  // namespace

std::optional<std::string> ValueText(const Json& value, std::string* text) {
    if (value.is_string()) {
        *text = value.get<std::string>();
    } else if (value.is_number_integer()) {
        *text = value.dump();
    } else if (value.is_number_float()) {
        const double number = value.get<double>();
        // A whole number as the console writes it ("5", not "5.0"); others as short as they
        // read back exactly, which the console reads as it reads the same word.
        *text = number == static_cast<double>(static_cast<int64_t>(number)) && number > -1e15 &&
                        number < 1e15
                    ? std::to_string(static_cast<int64_t>(number))
                    : value.dump();
    } else {
        return "must be a text or a number, not " + value.dump();
    }
    return std::nullopt;
}

std::optional<std::string> PathInside(const std::string& folder, const std::string& path) {
    auto pieces_of = [](const std::string& text, std::string* root) {
        std::vector<std::string> pieces;
        std::string piece;
        size_t i = 0;
        // The root: "C:" or "\\server\share".
        if (text.size() >= 2 && text[1] == ':') {
            *root = text.substr(0, 2);
            i = 2;
        } else {
            *root = "";
        }
        for (; i <= text.size(); ++i) {
            const char c = i < text.size() ? text[i] : '\\';
            if (i < text.size() && gbk::IsLeadByte(static_cast<unsigned char>(c)) &&
                i + 1 < text.size()) {
                piece += c;
                piece += text[++i];
                continue;
            }
            if (c != '\\' && c != '/') {
                piece += c;
                continue;
            }
            if (piece == "..") {
                if (pieces.empty()) return std::optional<std::vector<std::string>>();
                pieces.pop_back();
            } else if (!piece.empty() && piece != ".") {
                pieces.push_back(piece);
            }
            piece.clear();
        }
        return std::optional<std::vector<std::string>>(pieces);
    };
    auto same = [](const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    std::string folder_root, path_root;
    const auto folder_pieces = pieces_of(folder, &folder_root);
    const auto path_pieces = pieces_of(path, &path_root);
    if (!folder_pieces || !path_pieces || !same(folder_root, path_root)) return std::nullopt;
    if (path_pieces->size() <= folder_pieces->size()) return std::nullopt;  // the folder itself
    for (size_t i = 0; i < folder_pieces->size(); ++i)
        if (!same((*folder_pieces)[i], (*path_pieces)[i])) return std::nullopt;
    // A name Windows reads as another one (a stream "a:b", a trailing dot or blank) stays out.
    for (const std::string& piece : *path_pieces)
        if (piece.find(':') != std::string::npos || piece.back() == '.' || piece.back() == ' ')
            return std::nullopt;
    std::string inside = path_root;
    if (path.size() >= 2 && path[1] != ':') inside = "\\";  // \\server\share
    for (const std::string& piece : *path_pieces) inside += "\\" + piece;
    return inside;
}

ReadRequest ReadToolArguments(const Tool& tool, const nlohmann::json& arguments,
                              const OwnerLimits& limits, const ArgumentContext& context) {
    return Reader(tool, limits, context).Read(arguments);
}

}  // namespace agent
