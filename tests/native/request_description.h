// Every field of a request, as one line: what a command line was read as.
#pragma once

#include <cstdio>
#include <string>

#include "farm/command/request.h"
#include "farm/command/verb_rows.h"

inline std::string DescribeNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

inline std::string DescribeVmSet(const VmSet& set) {
    std::string d;
    switch (set.kind) {
        case VmSet::Kind::kAll:
            return "all";
        case VmSet::Kind::kRunning:
            return "running";
        case VmSet::Kind::kStopped:
            return "stopped";
        case VmSet::Kind::kIndexes:
            break;
    }
    if (set.single) d = "single:";
    for (size_t i = 0; i < set.indexes.size(); ++i) {
        if (i > 0) d += ',';
        d += std::to_string(set.indexes[i]);
    }
    return d;
}

inline std::string DescribeRequest(const FarmRequest& r) {
    std::string d = r.verb ? r.verb->name : "(none)";
    auto add = [&d](const std::string& key, const std::string& value) {
        d += " " + key + "=" + value;
    };
    if (r.install_dir) add("install_dir", *r.install_dir);
    if (r.json) add("json", "1");
    if (r.deadline_ms) add("deadline_ms", std::to_string(*r.deadline_ms));
    if (r.set) add("set", DescribeVmSet(*r.set));
    for (int32_t n : r.numbers) add("n", std::to_string(n));
    for (const std::string& t : r.texts) add("t", "[" + t + "]");
    if (r.by_package) add("by_package", "1");
    if (r.wait) add("wait", "1");
    if (r.timeout_ms) add("timeout_ms", std::to_string(*r.timeout_ms));
    if (r.boot) add("boot", "1");
    add("boot_timeout_s", DescribeNumber(r.boot_timeout_s));
    add("parallel", std::to_string(r.parallel));
    add("stagger_s", DescribeNumber(r.stagger_s));
    add("master", std::to_string(r.master));
    add("count", std::to_string(r.count));
    add("first", std::to_string(r.first));
    if (r.first_next) add("first_next", "1");
    add("console", std::to_string(static_cast<int>(r.console)));
    if (r.dry_run) add("dry_run", "1");
    if (r.randomize) add("randomize", "1");
    add("sample_s", DescribeNumber(r.sample_s));
    if (r.watch_s) add("watch_s", DescribeNumber(*r.watch_s));
    if (r.prom_file) add("prom_file", *r.prom_file);
    if (r.max_cpu) add("max_cpu", DescribeNumber(*r.max_cpu));
    if (r.max_private_mb) add("max_private_mb", DescribeNumber(*r.max_private_mb));
    if (r.heal) add("heal", "1");
    add("heal_after", std::to_string(r.heal_after));
    add("max_restarts", std::to_string(r.max_restarts));
    add("heal_window_s", DescribeNumber(r.heal_window_s));
    return d;
}
