#!/usr/bin/env python3
"""The fleet set-up end to end with the real components, on this machine only.

usage: end_to_end.py --farm MEmuFarm.exe --sim-bin DIR [--wine-run scripts/wine-run]

MEmuFarm.exe, under Wine against the simulated emulator (VM 0 healthy, VM 1 with a Chinese
title and a hung window), writes its health file into a folder; node_exporter's text-file
collector (which reads the same files as windows_exporter's) serves that folder; a real
Prometheus with the shipped rules (their `for` shortened to seconds) scrapes it every second
and sends its alerts to a real Alertmanager.
The watch heals: it restarts the hung VM once and then gives up on it.
Through Prometheus's HTTP API the test checks the target is up, each VM's memu_vm_healthy (the
title intact), that the unhealthy-VM alert fires, for the hung VM, and reaches Alertmanager,
that no alert fires but it and the heal alerts for the hung VM, and that every query of the
shipped Grafana dashboard returns series.

Every server listens on 127.0.0.1 on a free port and is ended when the test ends, failed or
not. A server that does not start, or a check not met in time, fails the test. Exit code 0
when every check passed, 1 otherwise. Runs in Wine's prefix $WINEPREFIX (the test command's).
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

# Run the watch with --heal: the hung VM is restarted once (--max-restarts 1), hangs again (its
# switch stays), and is then given up on and left unhealthy, so that its alerts fire.
HEAL = True
# A dashboard query without series fails the test, the heal panels' too.
HEAL_PANELS_STRICT = True
# The alerts the healing watch may add for the hung VM beside MemuVmUnhealthy.
HEAL_ALERTS = ("MemuVmHealGaveUp", "MemuVmHealedOften")

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RULES = os.path.join(ROOT, "fleet", "prometheus", "memu-rules.yml")
DASHBOARD = os.path.join(ROOT, "fleet", "grafana", "memu-farm.json")
JOB = "memu-farm"  # the job the rules name
HUNG_TITLE = "逍遥农场 一号"
SIM_TOOLS = {"MEmu": ("MEmu", "memuc", "adb", "MEmuConsole"),
             "MEmuHyperv": ("MEmuManage", "MEmuHeadless")}
TEST_BUDGET_S = 55  # every wait ends by then

started_at = time.monotonic()
failures = []


def check(name, ok, detail=""):
    print("%s: %s%s" % ("ok" if ok else "FAILED", name, "" if ok else " (%s)" % detail),
          flush=True)
    if not ok:
        failures.append(name)
    return ok


def time_left():
    return TEST_BUDGET_S - (time.monotonic() - started_at)


class ServerEnded(Exception):
    pass


def wait_for(what, probe, seconds):
    """Calls probe() every 0.5 s until it returns something true, for at most `seconds` (and
    never past the test's budget), or until it raises ServerEnded; returns its last result."""
    deadline = time.monotonic() + min(seconds, max(time_left(), 0))
    while True:
        error = None
        try:
            result = probe()
        except ServerEnded:
            return None
        except (OSError, ValueError) as raised:  # not up yet, or a half answer
            result, error = None, raised
        if result:
            return result
        if time.monotonic() >= deadline:
            print("  gave up waiting for %s%s" % (what, ": %s" % error if error else ""))
            return result
        time.sleep(0.5)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def answers(process, url, text):
    """Whether the server answers `url` with a page holding `text`; raises ServerEnded once
    the process has ended."""
    if process.poll() is not None:
        raise ServerEnded()
    return text in http_get(url)


def http_get(url, timeout=3):
    with urllib.request.urlopen(url, timeout=timeout) as answer:
        return answer.read().decode("utf-8")


class Servers:
    """The processes this test started; each one is ended by `end_all`, whatever happened."""

    def __init__(self):
        self.processes = []  # (name, Popen, own process group)

    def start(self, name, argv, log_path, own_group=False):
        log = open(log_path, "wb")
        process = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=own_group)
        log.close()
        self.processes.append((name, process, own_group))
        return process

    def end_all(self):
        for name, process, own_group in reversed(self.processes):
            if process.poll() is not None:
                continue
            try:
                if own_group:
                    os.killpg(process.pid, signal.SIGTERM)
                else:
                    process.terminate()
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                if own_group:
                    os.killpg(process.pid, signal.SIGKILL)
                else:
                    process.kill()
                process.wait(timeout=5)
            except ProcessLookupError:
                pass
        self.processes = []


def install_sim(sim_bin, root):
    """The simulated emulator in `root`: VM 0 "MEmu" and VM 1 with a Chinese title, stopped;
    VM 1's window hangs once it is up."""
    for folder, tools in SIM_TOOLS.items():
        os.makedirs(os.path.join(root, folder))
        for tool in tools:
            shutil.copy(os.path.join(sim_bin, tool + ".exe"), os.path.join(root, folder))
    state = "# index\ttitle\tstarted\tpid\tuuid\tsnapshots\tconfig\r\n"
    for index, title in ((0, "MEmu"), (1, HUNG_TITLE)):
        state += "%d\t%s\t0\t0\t\t\t\r\n" % (index, title)
    with open(os.path.join(root, "sim-state.txt"), "wb") as f:
        f.write(state.encode("gbk"))
    with open(os.path.join(root, "sim-switches.txt"), "wb") as f:
        f.write(b"adb.exe * boot=0\r\nMEmuHeadless.exe * hungwindow 1\r\n")
    return os.path.join(root, "MEmu")


def rules_for_test(path):
    """The shipped rules with every `for` shortened to two seconds."""
    with open(RULES, encoding="utf-8") as f:
        text = f.read()
    text, count = re.subn(r"(?m)^(\s+for:\s*)\S+$", r"\g<1>2s", text)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return count


class Prometheus:
    def __init__(self, base):
        self.base = base

    def api(self, path, **params):
        url = self.base + "/api/v1/" + path
        if params:
            url += "?" + urllib.parse.urlencode(params)
        answer = json.loads(http_get(url))
        if answer.get("status") != "success":
            raise ValueError("%s: %s" % (path, answer))
        return answer["data"]

    def query(self, expr):
        return self.api("query", query=expr)["result"]

    def query_error(self, expr):
        """Why Prometheus refuses the query, or None when it takes it."""
        try:
            self.query(expr)
            return None
        except urllib.error.HTTPError as error:
            return error.read().decode("utf-8", "replace")


def dashboard_queries(instance):
    """(panel title, expr) of every target of the shipped dashboard, $pc made the instance as
    Grafana makes a single selected value: regex-escaped, each backslash doubled inside the
    PromQL string."""
    with open(DASHBOARD, encoding="utf-8") as f:
        dashboard = json.load(f)
    queries = []
    for panel in dashboard["panels"]:
        for target in panel.get("targets", []):
            pc = re.escape(instance).replace("\\", "\\\\")
            expr = target["expr"].replace("${pc}", "$pc").replace("$pc", pc)
            queries.append((panel["title"], expr))
    return queries


def run_checks(args, work, servers):
    wine_run = args.wine_run
    install_dir = install_sim(args.sim_bin, os.path.join(work, "sim"))
    textfile_dir = os.path.join(work, "textfile")
    os.makedirs(textfile_dir)
    prom_file = os.path.join(textfile_dir, "memu.prom")
    farm = [wine_run, args.farm, "--install-dir", windows_path(install_dir)]

    started = subprocess.run(farm + ["start", "0-1", "--wait"], capture_output=True,
                             timeout=max(time_left(), 1))
    if not check("MEmuFarm starts both simulated VMs", started.returncode == 0,
                 started.stdout.decode("gbk", "replace") + started.stderr.decode("gbk", "replace")):
        return

    watch = ["health", "all", "--watch", "1", "--sample", "0.2", "--prom", windows_path(prom_file)]
    if HEAL:
        watch[4:4] = ["--heal", "--max-restarts", "1"]
    servers.start("MEmuFarm health", farm + watch, os.path.join(work, "health.log"),
                  own_group=True)

    node_port = free_port()
    node_address = "127.0.0.1:%d" % node_port
    node = servers.start("node_exporter", [
        args.node_exporter, "--collector.disable-defaults", "--collector.textfile",
        "--collector.textfile.directory", textfile_dir, "--web.listen-address", node_address,
    ], os.path.join(work, "node_exporter.log"))
    up = wait_for("node_exporter", lambda: answers(node, "http://%s/metrics" % node_address,
                                                   "node_textfile_scrape_error"), 10)
    if not check("node_exporter serves the text-file folder on " + node_address, bool(up),
                 "exit code %s" % node.poll()):
        return
    written = wait_for("the health file", lambda: os.path.isfile(prom_file), 20)
    if not check("MEmuFarm health writes its file", written, "no " + prom_file):
        return

    am_address = "127.0.0.1:%d" % free_port()
    am_config = os.path.join(work, "alertmanager.yml")
    with open(am_config, "w", encoding="utf-8") as f:
        json.dump({"route": {"receiver": "nobody", "group_wait": "1s"},
                   "receivers": [{"name": "nobody"}]}, f)
    alertmanager = servers.start("alertmanager", [
        args.alertmanager, "--config.file", am_config,
        "--storage.path", os.path.join(work, "alertmanager"),
        "--web.listen-address", am_address,
        "--cluster.listen-address=",  # no gossip port on all interfaces
    ], os.path.join(work, "alertmanager.log"))
    am_ready = wait_for("alertmanager", lambda: answers(
        alertmanager, "http://%s/-/ready" % am_address, "OK"), 15)
    if not check("alertmanager starts on " + am_address, bool(am_ready),
                 "exit code %s" % alertmanager.poll()):
        return

    test_rules = os.path.join(work, "memu-rules.yml")
    shortened = rules_for_test(test_rules)
    check("the test copy of the rules has its `for` shortened", shortened >= 4,
          "%d replaced" % shortened)
    config = {
        "global": {"scrape_interval": "1s", "evaluation_interval": "1s"},
        "rule_files": [test_rules],
        "scrape_configs": [{"job_name": JOB, "static_configs": [{"targets": [node_address]}]}],
        "alerting": {"alertmanagers": [{"static_configs": [{"targets": [am_address]}]}]},
    }
    config_path = os.path.join(work, "prometheus.yml")
    with open(config_path, "w", encoding="utf-8") as f:
        json.dump(config, f)  # JSON is YAML
    prom_address = "127.0.0.1:%d" % free_port()
    prometheus = servers.start("prometheus", [
        args.prometheus, "--config.file", config_path,
        "--storage.tsdb.path", os.path.join(work, "tsdb"),
        "--web.listen-address", prom_address,
    ], os.path.join(work, "prometheus.log"))
    ready = wait_for("prometheus",
                     lambda: answers(prometheus, "http://%s/-/ready" % prom_address, "Ready"), 15)
    if not check("prometheus starts on " + prom_address, bool(ready),
                 "exit code %s" % prometheus.poll()):
        return
    api = Prometheus("http://" + prom_address)

    def target_up():
        targets = api.api("targets", state="active")["activeTargets"]
        return targets if targets and all(t["health"] == "up" for t in targets) else None
    targets = wait_for("the scrape target", target_up, 15)
    check("prometheus scrapes node_exporter", bool(targets) and
          targets[0]["labels"].get("instance") == node_address, targets)

    def healthy_values():
        found = {s["metric"].get("index"): s for s in api.query("memu_vm_healthy")}
        vm0, vm1 = found.get("0"), found.get("1")
        if vm0 and vm1 and vm0["value"][1] == "1" and vm1["value"][1] == "0":
            return found
        return None
    healthy = wait_for("memu_vm_healthy 1 for VM 0 and 0 for VM 1", healthy_values, 30)
    check("memu_vm_healthy is 1 for the healthy VM and 0 for the hung one", bool(healthy),
          api.query("memu_vm_healthy"))
    if healthy:
        check("the Chinese title arrives intact", healthy["1"]["metric"].get("title") == HUNG_TITLE,
              healthy["1"]["metric"])
        check("the series carry the scraped PC as instance",
              healthy["0"]["metric"].get("instance") == node_address, healthy["0"]["metric"])

    def unhealthy_alert():
        for alert in api.api("alerts")["alerts"]:
            if alert["labels"].get("alertname") == "MemuVmUnhealthy" and \
                    alert["state"] == "firing":
                return alert
        return None
    alert = wait_for("MemuVmUnhealthy to fire", unhealthy_alert, 20)
    if check("MemuVmUnhealthy fires", bool(alert), api.api("alerts")):
        check("it fires for the hung VM, named by index and title",
              alert["labels"].get("index") == "1" and alert["labels"].get("title") == HUNG_TITLE
              and HUNG_TITLE in alert["annotations"].get("summary", ""), alert)
        def in_alertmanager():
            alerts = json.loads(http_get("http://%s/api/v2/alerts" % am_address))
            return [a for a in alerts if a["labels"].get("alertname") == "MemuVmUnhealthy"]
        received = wait_for("the alert in Alertmanager", in_alertmanager, 15)
        check("Alertmanager receives it with the title intact", bool(received) and
              received[0]["labels"].get("title") == HUNG_TITLE, received)
    active = [(a["labels"]["alertname"], a["labels"].get("index"))
              for a in api.api("alerts")["alerts"] if a["state"] in ("pending", "firing")]
    expected = [("MemuVmUnhealthy", "1")]
    if HEAL:
        extra = [a for a in active if a[0] in HEAL_ALERTS]
        check("the heal alerts that fire are for the hung VM", all(a[1] == "1" for a in extra),
              extra)
        expected += extra
    check("no other alert is active", sorted(active) == sorted(expected), active)

    for title, expr in dashboard_queries(node_address):
        name = "dashboard panel \"%s\" has series: %s" % (title, expr)
        if "$" in expr or api.query_error(expr):
            check(name, False, "a variable is left or the query is refused: %s" %
                  api.query_error(expr))
            continue
        series = api.query(expr)
        if series or HEAL_PANELS_STRICT or "memu_vm_heal_" not in expr:
            check(name, bool(series), "no series")
        else:
            print("NO SERIES (not counted until the watch heals): dashboard panel \"%s\": %s" %
                  (title, expr), flush=True)


def stop_vms(args, work):
    """Stops the simulated VMs, and the simulated adb server that MEmuFarm started on the
    test's own port (adb.exe kill-server; never a server of anyone else's)."""
    tools = os.path.join(work, "sim", "MEmu")
    for tool, command in (("memuc.exe", "stopall"), ("adb.exe", "kill-server")):
        path = os.path.join(tools, tool)
        if os.path.isfile(path):
            subprocess.run([args.wine_run, path, command], capture_output=True, timeout=30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--farm", required=True, help="MEmuFarm.exe")
    parser.add_argument("--sim-bin", required=True, help="the simulated tools (bin/sim)")
    parser.add_argument("--wine-run", default=os.path.join(ROOT, "scripts", "wine-run"))
    parser.add_argument("--prometheus", default="prometheus")
    parser.add_argument("--node-exporter", default="prometheus-node-exporter")
    parser.add_argument("--alertmanager", default="prometheus-alertmanager")
    args = parser.parse_args()
    for program in (args.prometheus, args.node_exporter, args.alertmanager, args.wine_run):
        if not shutil.which(program):
            print("FAILED: %s is not installed (scripts/deps.sh installs it)" % program)
            return 1

    # MEmuFarm asks the devices through an adb server: the simulated one, started on a port of
    # this test's own (MEmuFarm and the tools it starts read it from the environment).
    os.environ["ANDROID_ADB_SERVER_PORT"] = str(free_port())
    # ctest ends a test that runs too long with a signal: end the servers then too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    work = tempfile.mkdtemp(prefix="memu-prometheus-e2e-")
    servers = Servers()
    try:
        run_checks(args, work, servers)
    except Exception as error:  # reported as a failure, never as a pass
        check("the test ran to its end", False, "%s: %s" % (type(error).__name__, error))
    finally:
        servers.end_all()
        stop_vms(args, work)
        if failures:
            for log in ("health.log", "node_exporter.log", "alertmanager.log", "prometheus.log"):
                path = os.path.join(work, log)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        print("--- %s (end)\n%s" % (log, f.read()[-2000:].decode("utf-8",
                                                                            "replace")))
            prom = os.path.join(work, "textfile", "memu.prom")
            if os.path.isfile(prom):
                with open(prom, encoding="utf-8", errors="replace") as f:
                    print("--- memu.prom\n" + f.read())
        shutil.rmtree(work, ignore_errors=True)
    print("end to end: %d failed, %.0f s" % (len(failures), time.monotonic() - started_at))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
