#include "cli/clone_job.h"

#include "cli/farm_report.h"
#include "cloning/clone_commands.h"
#include "cloning/one_key_run.h"
#include "install/console_builds.h"
#include "text/gbk_text.h"

namespace {

const ConsoleBuildInfo* BuildFor(ConsoleVersion version) {
    switch (version) {
        case ConsoleVersion::k721:
            return &kConsoleBuild721;
        case ConsoleVersion::k722:
            return &kConsoleBuild722;
        case ConsoleVersion::kNone:
            break;
    }
    return nullptr;
}

// The one-key run's view of the console: commands run straight through the platform, log
// lines are printed as they come (text mode), and every judged step is kept for the summary.
class FarmRunHost : public OneKeyRunHost {
public:
    FarmRunHost(const FarmRequest& request, FarmServices& services, Json& steps)
        : request_(request), services_(services), steps_(steps) {}

    int failed_steps() const { return failed_steps_; }

    std::string DiscoverInstallDirectory() override { return services_.control.control_dir; }
    void MakeDirectoryCurrent(const std::string& folder) override {
        services_.platform.MakeDirectoryCurrent(folder);
    }
    int32_t SelectedVmIndex() override { return request_.master; }
    std::string CloneCountText() override { return gbk::Decimal(request_.count); }
    std::optional<std::string> RunCommand(const std::string& line) override {
        return services_.platform.Run(line);
    }
    void AppendLog(const std::string& text) override {
        if (!request_.json) services_.console.Print(text);
    }
    void PumpPendingMessages() override {}
    bool StopRequested() override { return services_.console.StopRequested(); }
    void StepDone(const std::string& line, const std::string* output, bool ok) override {
        Json step;
        step["command"] = JsonText(services_.console, line);
        step["ok"] = ok;
        step["output"] = JsonText(services_.console, output ? *output : std::string());
        steps_.push_back(std::move(step));
        if (!ok) ++failed_steps_;
    }

private:
    const FarmRequest& request_;
    FarmServices& services_;
    Json& steps_;
    int failed_steps_ = 0;
};

// Writes the asked-for manager console build (or, in a dry run, says whether it could).
// Returns false when it was not, or could not be, written.
bool ConsoleStep(const FarmRequest& r, FarmServices& s, const std::string& install_dir,
                 Json& document) {
    const ConsoleBuildInfo* info = BuildFor(r.console);
    if (!info) return true;
    const std::string target = install_dir + kConsoleFileName;
    std::string message;
    bool ok = false;
    if (r.dry_run) {
        const ConsoleBuild found = s.builds.Find(*info);
        ok = found.bytes.has_value();
        message = ok ? std::string("MEmuConsole.exe: would write the ") + info->version +
                           " build to " + target + "\r\n"
                     : MissingBuildLine(found, *info);
    } else {
        const ConsoleChoice choice{r.console == ConsoleVersion::k721,
                                   r.console == ConsoleVersion::k722};
        const std::vector<std::string> log =
            WriteManagerConsole(choice, install_dir, s.builds, s.files);
        ok = log.empty();
        message =
            ok ? std::string("MEmuConsole.exe: the ") + info->version + " build was written.\r\n"
               : log.front();
    }
    if (!r.json) s.console.Print(message);
    Json console;
    console["version"] = info->version;
    console["ok"] = ok;
    console["message"] = JsonText(s.console, gbk::TextBefore(message + "\r\n", "\r\n"));
    document["console"] = std::move(console);
    return ok;
}

int DryRun(const FarmRequest& r, FarmServices& s, const std::string& master,
           const std::string& tools_dir, Json& document) {
    const CloneNumbering numbering{r.first, /*pad_uuid=*/true};
    Json commands = Json::array();
    auto show = [&](const std::string& line) {
        if (r.json) {
            commands.push_back(JsonText(s.console, line));
        } else {
            s.console.Print(line + "\r\n");
        }
    };
    if (!r.json) s.console.Print("Tools folder: " + tools_dir + "\r\n");
    show(SnapshotCommand(master));
    for (int64_t i = 1; i <= r.count && !s.console.StopRequested(); ++i)
        show(CloneCommand(master, CloneNumberAt(numbering, i), numbering.pad_uuid));
    if (r.json) {
        document["commands"] = std::move(commands);
        PrintJsonDocument(s.console, document);
    }
    return kExitOk;
}

std::string Summary(bool snapshot_ok, int64_t clones_done, int64_t clones_ok, int64_t asked) {
    std::string text = std::string("Summary: snapshot ") + (snapshot_ok ? "taken" : "failed") +
                       ", " + gbk::Decimal(clones_ok) + " of " + gbk::Decimal(asked) +
                       " clones registered";
    if (clones_done < asked) text += ", stopped after " + gbk::Decimal(clones_done);
    return text + ".\r\n";
}

}  // namespace

int RunCloneJob(const FarmRequest& r, FarmServices& s) {
    const std::string install_dir = s.control.control_dir;
    const std::string tools_dir = ToolsDirectoryFor(install_dir);
    const std::string master = MasterName(r.master);

    Json document;
    document["ok"] = false;
    document["master"] = master;
    document["first"] = r.first;
    document["count"] = r.count;
    document["tools_dir"] = JsonText(s.console, tools_dir);
    if (r.dry_run) document["dry_run"] = true;

    const bool console_ok = ConsoleStep(r, s, install_dir, document);
    if (r.dry_run) {
        document["ok"] = true;
        return DryRun(r, s, master, tools_dir, document);
    }

    Json steps = Json::array();
    FarmRunHost host(r, s, steps);
    std::string install = install_dir;
    std::string tools;
    try {
        RunOneKey(host, {install, tools}, {r.first, /*pad_uuid=*/true});
    } catch (const DeadlinePassed& passed) {
        document["steps"] = std::move(steps);
        return ReportDeadline(s.console, r.json, std::move(document), passed);
    }

    const bool snapshot_ok = steps.at(0)["ok"].get<bool>();
    const int64_t clones_done = static_cast<int64_t>(steps.size()) - 1;
    const int64_t clones_ok = clones_done - host.failed_steps() + (snapshot_ok ? 0 : 1);
    const bool ok = console_ok && host.failed_steps() == 0 && clones_done == r.count;
    document["ok"] = ok;
    document["stopped"] = clones_done < r.count;
    document["steps"] = std::move(steps);
    if (r.json) {
        PrintJsonDocument(s.console, document);
    } else {
        s.console.Print(Summary(snapshot_ok, clones_done, clones_ok, r.count));
    }
    return ok ? kExitOk : kExitToolFailed;
}
