#include "serve/run_call.h"

#include "farm/report/outcome_document.h"
#include "text/gbk_text.h"

namespace serve {
namespace {

RunAnswer Refused(const RunCheck& check, const std::string& message, int exit_code,
                  const Utf8Of& utf8) {
    RunAnswer answer;
    answer.command = CommandOf(check);
    answer.verdict = message;
    answer.reply = ReplyToRun(FailureDocument(exit_code, message, utf8), exit_code);
    return answer;
}

}  // namespace

RunAnswer AnswerRun(std::string_view body, RunService& service, std::stop_token stop,
                    agent::StepLog log) {
    FarmSystem& system = service.system;
    const Utf8Of utf8 = [&system](std::string_view gbk) { return system.Utf8FromGbk(gbk); };
    const agent::HostOptions& options = service.options;

    RunCheck check = CheckRunBody(body, service.settings, options.gbk_of);
    if (check.status != 0) {
        RunAnswer answer;
        answer.command = CommandOf(check);
        answer.verdict = check.message;
        Document document = RefusalDocument(check, utf8);
        answer.reply = {check.status, std::move(document)};
        return answer;
    }
    if (check.parsed.kind == ParseOutcome::Kind::kHelp ||
        check.parsed.kind == ParseOutcome::Kind::kVersion) {
        const bool help = check.parsed.kind == ParseOutcome::Kind::kHelp;
        RunAnswer answer;
        answer.command = CommandOf(check);
        answer.verdict = "ok";
        answer.reply = ReplyToRun(
            InformationDocument(help ? "help" : "version", check.parsed.text, utf8), kExitOk);
        return answer;
    }

    FarmRequest& request = check.parsed.request;
    if (const std::optional<std::string> held = agent::WhyHeldBack(options.limits, *request.verb))
        return Refused(check, *held, kExitUsage, utf8);
    if (!options.install_dir.empty()) request.install_dir = options.install_dir;
    request.json = true;
    agent::CapDeadline(request, options.deadline_s);

    agent::CallSystem call(system, service.gate, stop, options.deadline_s, std::move(log));
    const agent::SetLimit limit = agent::LimitToOwner(request, options.limits, call);
    if (limit.problem) return Refused(check, *limit.problem, limit.exit_code, utf8);

    const FarmOutcome outcome = RunFarm(request, call, {});
    RunAnswer answer;
    answer.command = CommandOf(check);
    answer.verdict = outcome.ok ? std::string("ok")
                                : "exit code " + gbk::Decimal(outcome.exit_code) +
                                      (outcome.message.empty() ? "" : ": " + outcome.message);
    answer.reply = ReplyToRun(OutcomeDocument(request, outcome, utf8), outcome.exit_code);
    return answer;
}

namespace {

RunReply Busy(const std::string& message, const Utf8Of& utf8) {
    Document document = FailureDocument(kExitFailed, message, utf8);
    document["busy"] = true;
    document["exit_code"] = static_cast<int>(kExitFailed);
    return {503, std::move(document)};
}

}  // namespace

RunReply BusyReply(int max_calls, const Utf8Of& utf8) {
    return Busy("busy: " + gbk::Decimal(max_calls) +
                    " requests run already (serve --max-calls); ask again when one has finished",
                utf8);
}

RunReply TooManyConnectionsReply(int most_connections, const Utf8Of& utf8) {
    return Busy("busy: " + gbk::Decimal(most_connections) +
                    " connections are open already; ask again when one has closed",
                utf8);
}

RunReply DoorReply(int status, const std::string& reason, const Utf8Of& utf8) {
    Document document = FailureDocument(kExitUsage, reason, utf8);
    document["exit_code"] = static_cast<int>(kExitUsage);
    return {status, std::move(document)};
}

RunReply StoppingReply(const Utf8Of& utf8) {
    return DoorReply(503, "the server is stopping (Ctrl+C): no new request runs", utf8);
}

RunReply NotHttpReply(const Utf8Of& utf8) {
    return DoorReply(400, "the request is no HTTP/1.1 request this server reads", utf8);
}

RunReply NotServedYetReply(const DoorRow& row, const Utf8Of& utf8) {
    return DoorReply(501, std::string(row.method) + " " + row.path + " is not served yet", utf8);
}

RunReply HealthReply() {
    Document document = Document::object();
    document["ok"] = true;
    return {200, std::move(document)};
}

}  // namespace serve
