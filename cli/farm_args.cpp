#include "cli/farm_args.h"

#include <CLI/CLI.hpp>

#include <map>
#include <optional>
#include <string_view>

#include "cli/farm_help.h"
#include "cli/word_places.h"
#include "farm/command/argument_reading.h"
#include "farm/command/option_rows.h"
#include "farm/command/verb_rows.h"
#include "text/gbk_text.h"

namespace {

// What CLI11 placed, before it is checked.
struct Raw {
    std::map<std::string, std::vector<std::string>> values;  // options with a value
    std::map<std::string, int> flags;
    std::vector<std::string> positionals = std::vector<std::string>(6);
    std::vector<CLI::Option*> positional_options;
};

class Reader {
public:
    explicit Reader(std::string version) : version_(std::move(version)) {}

    ParseOutcome Read(const std::vector<std::string>& args) {
        places_ = PlaceWords(args);
        if (places_.problem) return Error(*places_.problem);
        CLI::App app("MEmuFarm", "MEmuFarm");
        Configure(app);
        std::vector<std::string> reversed(places_.parsed.rbegin(), places_.parsed.rend());
        try {
            app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            return Help(app);
        } catch (const CLI::CallForVersion&) {
            ParseOutcome outcome;
            outcome.kind = ParseOutcome::Kind::kVersion;
            outcome.text = "MEmuFarm " + version_ + "\n";
            return outcome;
        } catch (const CLI::ParseError& error) {
            // A word CLI11 could not place explains a missing argument better than CLI11 does.
            if (std::optional<std::string> extra = Extra(app, Parsed(app))) return Error(*extra);
            return Error(Explain(app, error));
        }
        const CLI::App* sub = Parsed(app);
        if (std::optional<std::string> extra = Extra(app, sub)) return Error(*extra);
        if (!sub) return Error("no command given (MEmuFarm --help lists the commands)");
        verb_ = FindVerb(sub->get_name());
        request_ = NewRequest(*verb_);
        if (std::optional<std::string> problem = ReadArguments()) return Error(*problem);
        if (std::optional<std::string> problem = ReadOptions()) return Error(*problem);
        ParseOutcome outcome;
        outcome.request = std::move(request_);
        return outcome;
    }

private:
    void AddOption(CLI::App& app, const OptionRow& option) {
        if (option.value_name) {
            app.add_option(option.name, raw_.values[option.name])->allow_extra_args(false);
        } else {
            app.add_flag(option.name, raw_.flags[option.name])->disable_flag_override();
        }
    }

    void Configure(CLI::App& app) {
        app.set_help_flag("-h,--help");
        app.set_version_flag("--version", version_);
        app.allow_extras();  // unknown words come back in remaining(): our own messages
        // CLI11 reads "/word" as an option on Windows; here it is a text or a path.
        app.allow_windows_style_options(false);
        app.require_subcommand(0, 1);
        for (const OptionRow* option : GlobalOptionRows()) AddOption(app, *option);
        for (const VerbRow& verb : AllVerbs()) {
            CLI::App* sub = app.add_subcommand(verb.name);
            sub->set_help_flag("-h,--help");
            sub->allow_windows_style_options(false);
            sub->fallthrough();  // global options after it too
            const bool mine = &verb == places_.verb;
            size_t position = 0;
            for (const Slot& slot : VerbArguments(verb)) {
                if (slot.kind == SlotKind::kArgs) break;  // adb's words never reach CLI11
                CLI::Option* argument = sub->add_option(slot.name, raw_.positionals[position++]);
                argument->allow_extra_args(false);
                if (!ArgumentIsOptional(verb, slot)) argument->required();
                if (mine) raw_.positional_options.push_back(argument);
            }
            for (const OptionRow* option : OptionsOf(verb)) AddOption(*sub, *option);
        }
    }

    static const CLI::App* Parsed(const CLI::App& app) {
        const std::vector<CLI::App*> subs = app.get_subcommands();
        return subs.empty() ? nullptr : subs.front();
    }

    ParseOutcome Help(const CLI::App& app) const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kHelp;
        const CLI::App* sub = Parsed(app);
        outcome.text = sub ? CommandHelp(sub->get_name()) : ProgramHelp(version_);
        return outcome;
    }

    ParseOutcome Error(std::string message) const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kUsageError;
        outcome.text = std::move(message);
        outcome.request.json = places_.json;
        return outcome;
    }

    // The first word CLI11 could not place: an unknown command, an option that is unknown or
    // belongs after the command, or an argument too many.
    std::optional<std::string> Extra(const CLI::App& app, const CLI::App* sub) const {
        const std::vector<std::string> left = app.remaining();
        if (left.empty()) return std::nullopt;
        const std::string& word = left.front();
        const std::string name = word.substr(0, word.find('='));
        const bool option = word.size() > 1 && word[0] == '-';
        const OptionRow* known = FindOption(name);
        if (!sub) {
            if (!option)
                return "unknown command " + gbk::Quoted(word) +
                       " (MEmuFarm --help lists the commands)";
            if (known && known->scope != OptionScope::kGlobal)
                return gbk::Quoted(word) + " goes after the command it belongs to (MEmuFarm " +
                       CommandTaking(*known) + " ... " + word + ")";
            return "unknown option " + gbk::Quoted(word);
        }
        const VerbRow& verb = *FindVerb(sub->get_name());
        const std::string usage = " (usage: " + CommandUsage(verb) + ")";
        if (option && known && places_.before_command.count(name) && TakesOption(verb, *known))
            return gbk::Quoted(word) + " goes after the command: " + CommandUsage(verb);
        if (option) return "unknown option " + gbk::Quoted(word) + " for " + verb.name + usage;
        return "unexpected argument " + gbk::Quoted(word) + " for " + verb.name + usage;
    }

    // A command that takes the option, for the message about its place.
    static std::string CommandTaking(const OptionRow& option) {
        for (const VerbRow& verb : AllVerbs())
            if (TakesOption(verb, option)) return verb.name;
        return "COMMAND";
    }

    std::string Explain(const CLI::App& app, const CLI::ParseError& error) const {
        const CLI::App* sub = Parsed(app);
        const std::string usage =
            sub ? " (usage: " + CommandUsage(*FindVerb(sub->get_name())) + ")" : std::string();
        const std::string what = error.what();
        // CLI11 words its errors "NAME is required", "NAME: N required ... 0 provided" and
        // "NAME: disallowed flag override": each names the argument or option first.
        const std::string name = what.substr(0, what.find_first_of(" :"));
        if (dynamic_cast<const CLI::RequiredError*>(&error)) return "missing " + name + usage;
        if (what.find("disallowed flag override") != std::string::npos)
            return "--" + name + " takes no value";
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && name.rfind('-', 0) == 0)
            return name + " needs a value" + usage;
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error))
            return "--" + name + " needs a value" + usage;
        return what + usage;
    }

    std::string UsageNote() const { return " (usage: " + CommandUsage(*verb_) + ")"; }

    bool Given(const OptionRow& option) const {
        if (!option.value_name) {
            const auto found = raw_.flags.find(option.name);
            return found != raw_.flags.end() && found->second > 0;
        }
        const auto found = raw_.values.find(option.name);
        return found != raw_.values.end() && !found->second.empty();
    }

    // Every option the command takes, read by its row and stored in the request.
    std::optional<std::string> ReadOptions() {
        std::vector<const OptionRow*> options = GlobalOptionRows();
        for (const OptionRow* option : OptionsOf(*verb_)) options.push_back(option);
        for (const OptionRow* option : options) {
            if (!Given(*option)) {
                if (option->required) return "missing " + OptionUsage(*option, false) + UsageNote();
                continue;
            }
            OptionValue value;
            if (option->value_name) {
                const std::vector<std::string>& given = raw_.values.at(option->name);
                if (given.size() > 1) return std::string(option->name) + " is given twice";
                if (std::optional<std::string> problem =
                        ReadOptionValue(*option, given.front(), &value))
                    return problem;
            }
            if (std::optional<std::string> missing = MissingNeed(*verb_, *option, given_))
                return *missing + UsageNote();
            option->store(request_, value);
        }
        return std::nullopt;
    }

    // The command's arguments, in usage order: the VMs, the numbers and the texts, each text
    // exactly as given.
    std::optional<std::string> ReadArguments() {
        const std::vector<Slot> slots = VerbArguments(*verb_);
        for (size_t position = 0; position < slots.size(); ++position) {
            const Slot& slot = slots[position];
            if (slot.kind == SlotKind::kArgs) {
                if (places_.adb_words.empty()) return "missing ARGS" + UsageNote();
                request_.texts = places_.adb_words;
                break;
            }
            const bool given = raw_.positional_options[position]->count() > 0;
            const std::string& text = raw_.positionals[position];
            if (std::optional<std::string> problem = StandInProblem(*verb_, slot, given, given_))
                return *problem + UsageNote();
            if (!given) {
                // The argument's own default, when it has one (create's TYPE).
                if (slot.if_empty) request_.texts.push_back(slot.if_empty);
                continue;
            }
            if (std::optional<std::string> problem = ReadArgument(*verb_, slot, text, request_))
                return *problem + UsageNote();
        }
        return std::nullopt;
    }

    const OptionGiven given_ = [this](const OptionRow& option) { return Given(option); };
    std::string version_;
    WordPlaces places_;
    Raw raw_;
    const VerbRow* verb_ = nullptr;
    FarmRequest request_;
};

}  // namespace

ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version) {
    return Reader(version).Read(args);
}

bool AsksForJson(const std::vector<std::string>& args) {
    return PlaceWords(args).json;
}
