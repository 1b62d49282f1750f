#!/usr/bin/env bash
# The Ansible test: the shipped playbook (fleet/ansible/farm.yml) run by ansible-playbook on
# this machine against the farm service of BUILD_DIR (default build/win64) on a free
# 127.0.0.1 port, under 64-bit Wine in a throw-away prefix with the simulated emulator (VMs
# 0 to 3), three inventory hosts calling that one service: start, install, one health round,
# stop. Prints one "ok N - NAME" or "not ok N - NAME" a check, then "# pass N" and
# "# fail N", which scripts/test.sh counts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
tmp=$(mktemp -d /tmp/memu-ansible-test.XXXXXX)
export WINEPREFIX="$tmp/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  /usr/lib/wine/wineserver -k 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

passed=0
failed=0
number=0
check() {  # check NAME COMMAND...: one TAP line for whether COMMAND succeeds
  number=$((number + 1))
  if "${@:2}"; then
    echo "ok $number - $1"; passed=$((passed + 1))
  else
    echo "not ok $number - $1"; failed=$((failed + 1))
  fi
}
finish() {
  echo "1..$number"
  echo "# pass $passed"
  echo "# fail $failed"
  exit $((failed > 0))
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Ansible keeps everything of its own in the test's folder and reads no configuration of
# this machine's.
export ANSIBLE_HOME="$tmp/ansible" ANSIBLE_LOCAL_TEMP="$tmp/ansible/tmp"
export ANSIBLE_CONFIG="$tmp/ansible.cfg" ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
mkdir -p "$ANSIBLE_LOCAL_TEMP" && : >"$ANSIBLE_CONFIG"
playbook="$root/fleet/ansible/farm.yml"

"$root/scripts/sim-prefix.sh" "$WINEPREFIX" 4 --bin "$build/bin/sim" >/dev/null \
  || { echo "# fail 1 (the simulated emulator could not be installed)"; exit 1; }
# The prefix's wineserver, started here with no pipe of ours (see tests/mcp/run.sh).
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
sim="$WINEPREFIX/drive_c/Program Files/Microvirt"
# VM 2's start fails: memuc answers with an error.
printf 'memuc.exe start fail 2\r\n' >"$sim/sim-switches.txt"

port=$(free_port)
export ANDROID_ADB_SERVER_PORT
ANDROID_ADB_SERVER_PORT=$(free_port)  # the simulated adb server's
token=$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')
printf '%s\r\n' "$token" >"$tmp/token.txt"
windows() { printf 'Z:%s' "${1//\//\\}"; }  # a path of this machine as Wine's programs name it
token_file=$(windows "$tmp/token.txt")
mkdir -p "$tmp/apks" && printf 'not really an APK' >"$tmp/apks/game.apk"
export MEMUFARM_EXE="$build/bin/MEmuFarm.exe" WINE_RUN="$root/scripts/wine-run"
export STAND_IN_RECORD="$tmp/requests.jsonl"
# The service: MEmuFarm serve itself; the stand-in (tests/ansible/stand_in_server.py, which
# also keeps the bodies it was sent) is the line below it.
server=(/usr/lib/wine/wine64 "$MEMUFARM_EXE")
# server=(python3 "$here/stand_in_server.py")
"${server[@]}" serve --listen "127.0.0.1:$port" --token-file "$token_file" --files "$(windows "$tmp/apks")" \
  >"$tmp/server.out" 2>"$tmp/server.err" </dev/null &
server_pid=$!
listening() {  # waits at most 60 s for the service's first line and its /healthz
  local i
  for ((i = 0; i < 120; i++)); do
    if grep -q "^http://127.0.0.1:$port/" "$tmp/server.out" 2>/dev/null &&
       curl -sf --max-time 5 "http://127.0.0.1:$port/healthz" >/dev/null; then
      return 0
    fi
    kill -0 "$server_pid" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}
check "the service listens on 127.0.0.1:$port" listening || { cat "$tmp/server.err"; finish; }

# The inventory: one host's token in the vault form (its password in a file here), one plain,
# one wrong. All three call the one service, one after the other (--forks 1).
printf '%s\n' "$(head -c 16 /dev/urandom | od -An -tx1 | tr -d ' \n')" >"$tmp/vault-password"
vaulted=$(ansible-vault encrypt_string --vault-password-file "$tmp/vault-password" \
  --name memufarm_token "$token" 2>/dev/null | sed 's/^/      /')
cat >"$tmp/inventory.yml" <<YAML
memu_farm:
  hosts:
    pc-ok:
      ansible_host: 127.0.0.1
      memufarm_port: $port
      memufarm_set: "0-1"
$vaulted
    pc-vm-fails:
      ansible_host: 127.0.0.1
      memufarm_port: $port
      memufarm_set: "2-3"
      memufarm_token: "$token"
    pc-wrong-token:
      ansible_host: 127.0.0.1
      memufarm_port: $port
      memufarm_set: "0"
      memufarm_token: "$(printf '0%.0s' {1..48})"
YAML
play() {  # play LOG ARGS...: the shipped playbook with the test's inventory, at most 300 s
  local log=$1; shift
  (cd "$tmp" && timeout 300 ansible-playbook -i "$tmp/inventory.yml" --forks 1 \
    --vault-password-file "$tmp/vault-password" "$playbook" "$@") >"$tmp/$log" 2>&1
}
recap() {  # recap LOG HOST FAILED: the play's recap counts FAILED failed tasks for HOST
  grep -Eq "^$2 +: ok=[0-9]+ .*failed=$3 " "$tmp/$1"
}
started() {  # started VM...: the simulated state lists exactly these VMs started
  local want=" $* " index title on
  while IFS=$'\t' read -r index title on _; do
    [[ $index == \#* ]] && continue
    if [[ $want == *" $index "* ]]; then [ "$on" = 1 ] || return 1; else [ "$on" = 0 ] || return 1; fi
  done < <(tr -d '\r' <"$sim/sim-state.txt")
}

check "the playbook passes ansible-playbook --syntax-check" \
  play syntax.log --syntax-check
inventory_reads() { ansible-inventory -i "$1" --graph >/dev/null 2>&1; }
check "the example inventory, with its vault values, is read" \
  inventory_reads "$root/fleet/ansible/inventory.example.yml"

play start.log --tags start
status=$?
check "--tags start: the run fails (exit code 2: hosts failed), it does not time out" \
  test "$status" -eq 2
check "--tags start: pc-ok (token from the vault) succeeded" recap start.log pc-ok 0
check "--tags start: pc-vm-fails is failed for its VM 2" recap start.log pc-vm-fails 1
check "--tags start: pc-vm-fails's summary names VM 2 and why" \
  grep -Eq '"VM 2 failed: [^"]+' "$tmp/start.log"
check "--tags start: pc-vm-fails's summary names no VM that started" \
  bash -c '! grep -Eq "\"VM [013] " "$0"' "$tmp/start.log"
check "--tags start: pc-wrong-token is failed, with the service's refusal" \
  bash -c 'grep -Eq "^pc-wrong-token +: .*failed=1 " "$0" && grep -Eq "HTTP (Error )?401" "$0"' "$tmp/start.log"
if [ -f "$STAND_IN_RECORD" ]; then  # the stand-in keeps the bodies it was sent
  check "--tags start: the service was sent the console's words, every one a text" \
    grep -qxF '{"argv": ["start", "0-1", "--boot", "--parallel", "4", "--stagger", "2"]}' \
    "$STAND_IN_RECORD"
fi
check "--tags start: VMs 0, 1 and 3 are running, VM 2 is not" started 0 1 3
check "--tags start: each VM of the sets was started, and booted" \
  bash -c 'for i in 0 1 2 3; do tr -d "\r" <"$0" | grep -Eq "memuc start -i $i( |\$)" || exit 1; done
           grep -q "sys.boot_completed" "$0"' "$sim/sim-journal.txt"
check "--tags start: nothing was stopped or installed" \
  bash -c '! tr -d "\r" <"$0" | grep -Eq "memuc (stop|installapp)"' "$sim/sim-journal.txt"

python3 -c 'import json, sys; print(json.dumps({"memufarm_apk": sys.argv[1]}))' \
  "$(windows "$tmp/apks/game.apk")" >"$tmp/apk.json"
play install.log --tags install --limit pc-ok -e "@$tmp/apk.json"
status=$?
check "--tags install: the run succeeds" test "$status" -eq 0
check "--tags install: the APK from the files folder is installed on VMs 0 and 1" \
  bash -c 'tr -d "\r" <"$0" | awk -F"\t" '"'"'$1 == 0 || $1 == 1 { n += ($11 ~ /com\.sim\.game/) }
           END { exit n != 2 }'"'" "$sim/sim-state.txt"
python3 -c 'import json, sys; print(json.dumps({"memufarm_apk": sys.argv[1]}))' \
  "$(windows "$tmp/game.apk")" >"$tmp/outside.json"
play outside.log --tags install --limit pc-ok -e "@$tmp/outside.json"
status=$?
check "--tags install: an APK outside the files folder is refused, the host failed" \
  bash -c '[ "$1" -eq 2 ] && grep -q "exit code 2 (HTTP 422)" "$0"' "$tmp/outside.log" "$status"

# VM 3's adb stops answering: one health round finds it unhealthy.
printf 'memuc.exe start fail 2\r\nadb.exe * hang 3\r\n' >"$sim/sim-switches.txt"
play health.log --tags health --limit pc-vm-fails
status=$?
check "--tags health: the run fails (exit code 2: hosts failed)" test "$status" -eq 2
check "--tags health: pc-vm-fails is failed for its unhealthy VM" recap health.log pc-vm-fails 1
check "--tags health: the summary names VM 3 and its problem, not the stopped VM 2" \
  bash -c 'grep -Eq "\"VM 3 \(MEmu_3\) unhealthy: [^\"]+" "$0" && ! grep -q "\"VM 2 " "$0"' \
  "$tmp/health.log"

play stop.log --tags stop --limit pc-ok
status=$?
check "--tags stop: the run succeeds" test "$status" -eq 0
check "--tags stop: pc-ok succeeded" recap stop.log pc-ok 0
check "--tags stop: every VM is stopped" started
check "--tags stop: nothing was started again" \
  bash -c '[ "$(tr -d "\r" <"$0" | grep -c "memuc start -i")" -eq 4 ]' "$sim/sim-journal.txt"

if [ "$failed" -gt 0 ]; then
  for log in start.log install.log outside.log health.log stop.log; do echo "# ---- $log"; sed 's/^/# /' "$tmp/$log"; done
  echo "# ---- service"; sed 's/^/# /' "$tmp/server.out" "$tmp/server.err"
fi
finish
