#include "cli/farm_args.h"

#include <limits>
#include <map>
#include <optional>
#include <set>

#include "cli/farm_help.h"
#include "farm/command/argument_reading.h"
#include "farm/command/grammar.h"
#include "text/gbk_text.h"
#include "text/number_text.h"

namespace {

bool LooksLikeOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

std::string NameOf(const std::string& word) {
    return word.substr(0, word.find('='));
}

bool IsNumberSlot(const Slot& slot) {
    return slot.kind == SlotKind::kIndex || slot.kind == SlotKind::kInt ||
           slot.kind == SlotKind::kLongitude || slot.kind == SlotKind::kLatitude;
}

bool IsNumber(const std::string& word) {
    constexpr double kAny = std::numeric_limits<double>::max();
    return numtext::ParseDecimal(word, -kAny, kAny).has_value();
}

bool IsHelpWord(const std::string& name) {
    return name == "--help" || name == "-h";
}

std::string InArgumentPlace(const VerbRow& verb, const Slot& slot, const std::string& word) {
    return gbk::Quoted(word) + " stands where " + slot.name + " goes: to pass it as " + slot.name +
           ", put -- before it (MEmuFarm " + verb.name + " ... -- " + word +
           "); options go after the arguments or before the command";
}

class Reader {
public:
    Reader(const std::vector<std::string>& args, std::string version, PathResolver full_path)
        : args_(args), version_(std::move(version)), full_path_(std::move(full_path)) {}

    // Places every word, then decides: a word in the wrong place, a word that could not be
    // read, help or version, a word left over, then the arguments and options by their rows.
    ParseOutcome Read() {
        PlaceWords();
        // COMMAND --help is help, whatever follows it.
        if (problem_ && !command_help_) return Error(*problem_);
        if (read_error_)
            return Error(extras_before_error_
                             ? Extra(extras_.front(), extra_arguments_.count(0) > 0)
                             : *read_error_);
        if (version_asked_) return Version();
        if (help_asked_) return Help();
        if (!extras_.empty()) return Error(Extra(extras_.front(), extra_arguments_.count(0) > 0));
        if (!verb_) return Error("no command given (MEmuFarm --help lists the commands)");
        request_ = NewRequest(*verb_);
        if (std::optional<std::string> problem = ReadArguments()) return Error(*problem);
        if (std::optional<std::string> problem = ReadOptions()) return Error(*problem);
        ParseOutcome outcome;
        outcome.request = std::move(request_);
        return outcome;
    }

    bool json() const { return json_; }

    void PlaceWords() {
        size_t i = 0;
        // Before the command: global options, help and version.
        for (; i < args_.size(); ++i) {
            const std::string& word = args_[i];
            if (word == "--") {
                AddExtra(word);  // no command before it: nothing after it is read
                return;
            }
            if (!LooksLikeOption(word)) break;
            before_command_.insert(NameOf(word));
            NoteJson(word);
            OptionWord(i);
        }
        if (i == args_.size()) return;
        verb_ = FindVerb(args_[i]);
        if (!verb_) {
            // An unknown command: the words after it are read as the program's own.
            AddExtra(args_[i]);
            for (++i; i < args_.size(); ++i) {
                if (LooksLikeOption(args_[i])) {
                    NoteJson(args_[i]);
                    OptionWord(i);
                } else {
                    AddExtra(args_[i]);
                }
            }
            return;
        }
        const std::vector<Slot> slots = VerbArguments(*verb_);
        size_t filled = 0;
        bool after_dashes = false;
        const size_t first_after_command = i + 1;
        for (++i; i < args_.size(); ++i) {
            const std::string& word = args_[i];
            // COMMAND --help, as git and ripgrep read it, whatever the command's first argument.
            if (i == first_after_command && IsHelpWord(word)) {
                help_asked_ = command_help_ = true;
                continue;
            }
            const Slot* slot = filled < slots.size() ? &slots[filled] : nullptr;
            if (slot && slot->kind == SlotKind::kArgs) {
                adb_words_.assign(args_.begin() + static_cast<std::ptrdiff_t>(i), args_.end());
                return;
            }
            if (after_dashes) {
                Positional(word, filled++);
                continue;
            }
            if (word == "--") {
                after_dashes = true;
                if (i + 1 == args_.size() && slot && !problem_)
                    problem_ = "-- is not followed by " + std::string(slot->name);
                continue;
            }
            if (!LooksLikeOption(word) || (slot && IsNumberSlot(*slot) && IsNumber(word))) {
                Positional(word, filled++);
                continue;
            }
            NoteJson(word);
            if (slot && slot->kind != SlotKind::kIndex && !OwnOptionMayStand(*slot, word)) {
                if (!problem_) problem_ = InArgumentPlace(*verb_, *slot, word);
                continue;
            }
            OptionWord(i);
        }
    }

private:
    // --json among the program's own words (not an option's value, not after "--", not adb's):
    // a refusal is then a document too, whatever place the word was refused in.
    void NoteJson(const std::string& word) {
        if (NameOf(word) == "--json") json_ = true;
    }

    // An argument's place: only an option of the command itself may stand there, and only
    // where the argument may be left out (install SET -p PACKAGE).
    bool OwnOptionMayStand(const Slot& slot, const std::string& word) const {
        const OptionRow* option = FindOption(NameOf(word));
        return option && option->scope != OptionScope::kGlobal && TakesOption(*verb_, *option) &&
               ArgumentIsOptional(*verb_, slot);
    }

    // The option word at args_[i], with its value (the next word, unless given with '=').
    void OptionWord(size_t& i) {
        const std::string& word = args_[i];
        const std::string name = NameOf(word);
        const bool inline_value = word.find('=') != std::string::npos;
        const OptionRow* option = FindOption(name);
        const bool taken = option && (option->scope == OptionScope::kGlobal ||
                                      (verb_ && TakesOption(*verb_, *option)));
        if (IsHelpWord(name) || name == "--version") {
            (name == "--version" ? version_asked_ : help_asked_) = true;
            return;
        }
        if (!taken) {
            AddExtra(word);
            if (option && option->value_name && !inline_value && i + 1 < args_.size()) ++i;
            return;
        }
        if (!option->value_name) {
            if (inline_value) ReadError(std::string(option->name) + " takes no value");
            ++flags_[option];
            return;
        }
        if (inline_value) {
            values_[option].push_back(word.substr(word.find('=') + 1));
            return;
        }
        // The next word is the value, whatever it looks like ("--install-dir --json").
        if (i + 1 >= args_.size()) {
            ReadError(std::string(option->name) + " needs a value" + UsageNote());
            return;
        }
        values_[option].push_back(args_[++i]);
    }

    // A word in an argument's place; past the last argument, one too many.
    void Positional(const std::string& word, size_t position) {
        size_t places = 0;  // adb's words are placed apart
        for (const Slot& slot : VerbArguments(*verb_))
            if (slot.kind != SlotKind::kArgs) ++places;
        if (position < places) {
            positionals_.emplace(position, word);
        } else {
            AddExtra(word, true);
        }
    }

    // `argument`: it stands in an argument's place (after "--", or past the last argument),
    // whatever it looks like.
    void AddExtra(const std::string& word, bool argument = false) {
        if (read_error_) return;
        extras_.push_back(word);
        if (argument) extra_arguments_.insert(extras_.size() - 1);
    }

    // The first word that could not be read ends the reading; a word left over before it is
    // what is reported.
    void ReadError(std::string message) {
        if (read_error_) return;
        read_error_ = std::move(message);
        extras_before_error_ = !extras_.empty();
    }

    std::string UsageNote() const {
        return verb_ ? " (usage: " + CommandUsage(*verb_) + ")" : std::string();
    }

    ParseOutcome Error(std::string message) const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kUsageError;
        outcome.text = std::move(message);
        outcome.request.json = json_;
        return outcome;
    }

    ParseOutcome Help() const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kHelp;
        outcome.text = verb_ ? CommandHelp(verb_->name) : ProgramHelp(version_);
        return outcome;
    }

    ParseOutcome Version() const {
        ParseOutcome outcome;
        outcome.kind = ParseOutcome::Kind::kVersion;
        outcome.text = "MEmuFarm " + version_ + "\n";
        return outcome;
    }

    // The message for a word that has no place: an unknown command, an option that is unknown
    // or belongs after the command, or an argument too many.
    std::string Extra(const std::string& word, bool argument) const {
        const std::string name = NameOf(word);
        const bool option = !argument && LooksLikeOption(word);
        const OptionRow* known = FindOption(name);
        if (!verb_) {
            if (!option)
                return "unknown command " + gbk::Quoted(word) +
                       " (MEmuFarm --help lists the commands)";
            if (known && known->scope != OptionScope::kGlobal)
                return gbk::Quoted(word) + " goes after the command it belongs to (MEmuFarm " +
                       CommandTaking(*known) + " ... " + word + ")";
            return "unknown option " + gbk::Quoted(word);
        }
        if (option && known && before_command_.count(name) && TakesOption(*verb_, *known))
            return gbk::Quoted(word) + " goes after the command: " + CommandUsage(*verb_);
        if (option)
            return "unknown option " + gbk::Quoted(word) + " for " + verb_->name + UsageNote();
        return "unexpected argument " + gbk::Quoted(word) + " for " + verb_->name + UsageNote();
    }

    bool Given(const OptionRow& option) const {
        return flags_.count(&option) > 0 || values_.count(&option) > 0;
    }

    // Every option the command takes, global ones first, read by its row into the request.
    std::optional<std::string> ReadOptions() {
        std::vector<const OptionRow*> options = GlobalOptions();
        for (const OptionRow* option : OptionsOf(*verb_)) options.push_back(option);
        for (const OptionRow* option : options) {
            if (!Given(*option)) {
                if (option->required) return "missing " + OptionUsage(*option, false) + UsageNote();
                continue;
            }
            OptionValue value;
            if (option->value_name) {
                const std::vector<std::string>& given = values_.at(option);
                if (given.size() > 1) return std::string(option->name) + " is given twice";
                if (std::optional<std::string> problem =
                        ReadOptionValue(*option, given.front(), &value))
                    return problem;
                if (option->kind == OptionKind::kPath && full_path_)
                    value.text = full_path_(value.text);
            }
            if (std::optional<std::string> missing = MissingNeed(*verb_, *option, given_))
                return *missing + UsageNote();
            if (std::optional<std::string> excluded = Exclusion(*verb_, *option, given_))
                return *excluded + UsageNote();
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
            if (slot.kind != SlotKind::kArgs && !positionals_.count(position) &&
                !ArgumentIsOptional(*verb_, slot))
                return "missing " + std::string(slot.name) + UsageNote();
        }
        for (size_t position = 0; position < slots.size(); ++position) {
            const Slot& slot = slots[position];
            if (slot.kind == SlotKind::kArgs) {
                if (adb_words_.empty()) return "missing ARGS" + UsageNote();
                request_.texts = adb_words_;
                break;
            }
            const auto found = positionals_.find(position);
            const bool given = found != positionals_.end();
            if (std::optional<std::string> problem = StandInProblem(*verb_, slot, given, given_))
                return *problem + UsageNote();
            if (!given) {
                // The argument's own default, when it has one (create's TYPE).
                if (slot.if_empty) request_.texts.push_back(slot.if_empty);
                continue;
            }
            const bool path = slot.kind == SlotKind::kLocalPath && !found->second.empty();
            const std::string text = path && full_path_ ? full_path_(found->second) : found->second;
            if (std::optional<std::string> problem = ReadArgument(*verb_, slot, text, request_))
                return *problem + UsageNote();
        }
        return std::nullopt;
    }

    const std::vector<std::string>& args_;
    const std::string version_;
    const PathResolver full_path_;
    const OptionGiven given_ = [this](const OptionRow& option) { return Given(option); };
    const VerbRow* verb_ = nullptr;
    std::set<std::string> before_command_;       // option names given before the command word
    std::map<size_t, std::string> positionals_;  // by argument place
    std::vector<std::string> adb_words_;         // adb: every word after the SET, as given
    std::map<const OptionRow*, int> flags_;
    std::map<const OptionRow*, std::vector<std::string>> values_;
    std::vector<std::string> extras_;        // words with no place, in order
    std::set<size_t> extra_arguments_;       // those of them that stand in an argument's place
    std::optional<std::string> problem_;     // an option-like word in an argument's place
    std::optional<std::string> read_error_;  // an option that could not be read
    bool extras_before_error_ = false;
    bool help_asked_ = false;
    bool command_help_ = false;  // the first word after the command asks for its help
    bool version_asked_ = false;
    bool json_ = false;  // --json stands among the program's own words
    FarmRequest request_;
};

}  // namespace

ParseOutcome ParseFarmArgs(const std::vector<std::string>& args, const std::string& version,
                           const PathResolver& full_path) {
    return Reader(args, version, full_path).Read();
}

bool AsksForJson(const std::vector<std::string>& args) {
    Reader reader(args, "", nullptr);
    reader.PlaceWords();
    return reader.json();
}
