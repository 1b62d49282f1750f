#include "cli/farm_report.h"

#include <algorithm>
#include <array>
#include <vector>

#include "cli/farm_args.h"
#include "text/gbk_text.h"

Json JsonText(FarmConsole& console, std::string_view text) {
    return Json(console.Utf8FromGbk(text));
}

void PrintJsonDocument(FarmConsole& console, const Json& document) {
    console.PrintJson(document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
}

int ReportFailure(FarmConsole& console, bool json, const char* kind, const std::string& message,
                  int code) {
    console.PrintError("MEmuFarm: " + message + "\r\n");
    if (json) {
        Json document;
        document["ok"] = false;
        document["error"] = kind;
        document["message"] = JsonText(console, message);
        PrintJsonDocument(console, document);
    }
    return code;
}

int ReportDeadline(FarmConsole& console, bool json, Json document, const DeadlinePassed& passed) {
    if (json) {
        document["ok"] = false;
        document["error"] = "deadline";
        document["waiting_for"] = JsonText(console, passed.command);
        document["output"] = JsonText(console, passed.output);
        PrintJsonDocument(console, document);
    } else if (!passed.output.empty()) {
        console.Print(passed.output);
        if (passed.output.back() != '\n') console.Print("\r\n");
    }
    console.PrintError("MEmuFarm: the deadline passed while waiting for: " + passed.command +
                       "\r\nThe tool is left running.\r\n");
    return kExitDeadline;
}

std::string VmTable(const VmList& vms) {
    constexpr size_t kColumns = 7;
    using Row = std::array<std::string, kColumns>;
    std::vector<Row> rows = {
        {"index", "title", "window", "inner_window", "started", "pid", "headless_pid"}};
    for (const VmRecord& vm : vms) {
        rows.push_back({gbk::Decimal(vm.index), vm.title, gbk::Decimal(vm.window),
                        gbk::Decimal(vm.inner_window), vm.started ? "yes" : "no",
                        gbk::Decimal(vm.process_id), gbk::Decimal(vm.headless_pid)});
    }
    std::array<size_t, kColumns> widths{};
    for (const Row& row : rows)
        for (size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], row[c].size());
    std::string table;
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) line.append(widths[c] - row[c].size() + 2, ' ');
        }
        table += line + "\r\n";
    }
    return table;
}

Json VmJson(FarmConsole& console, const VmRecord& vm) {
    Json item;
    item["index"] = vm.index;
    item["title"] = JsonText(console, vm.title);
    item["window"] = vm.window;
    item["inner_window"] = vm.inner_window;
    item["started"] = vm.started;
    item["pid"] = vm.process_id;
    item["headless_pid"] = vm.headless_pid;
    return item;
}
