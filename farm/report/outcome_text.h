// What the console companion prints for what came of a command: text lines for standard
// output and standard error, or the one JSON document, each in the order a reader sees them.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "farm/run/farm_run.h"
#include "text/utf8_of.h"

struct Printout {
    enum class Stream { kOut, kError, kJson };
    Stream stream = Stream::kOut;
    std::string text;  // GBK text, or for kJson the document (UTF-8) with its line end
};

// The outcome as text, or with --json as its document; reasons go to standard error either
// way, so a script that reads only the exit code and standard error learns why.
std::vector<Printout> OutcomeReport(const FarmRequest& request, const FarmOutcome& outcome,
                                    const Utf8Of& utf8);
// A failure before any command ran (a bad command line): the message on standard error, and
// the document when JSON was asked for.
std::vector<Printout> FailureReport(int exit_code, const std::string& message, bool json,
                                    const Utf8Of& utf8);
// The help or version text, or its document.
std::vector<Printout> InformationReport(const std::string& key, const std::string& text, bool json,
                                        const Utf8Of& utf8);

// The VMs as an aligned table, one line per VM (GBK: a Chinese character is two bytes and two
// columns wide).
std::string VmTable(const std::vector<VmRecord>& vms);
// One line of a VM's result: index, verdict, seconds, and the first line of its output (or
// why it failed).
std::string ResultLine(const VmResult& result);

// health --watch on a console: the round's table, its failure, and the last heal actions.
std::string HealthRoundText(const HealthRound& round, const std::deque<std::string>& heal_lines);
