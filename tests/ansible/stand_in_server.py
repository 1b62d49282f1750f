#!/usr/bin/env python3
"""A stand-in for `MEmuFarm serve` while the test cannot run the real one: the same command
line and the same first line on standard output, and POST /api/run answered as the service
answers, by running `MEmuFarm.exe --json ARGV...` under Wine and taking its document and exit
code (the last line of its output that is a JSON object). Each request's body is appended,
one JSON line, to the file named by STAND_IN_RECORD.

usage: stand_in_server.py serve --listen 127.0.0.1:PORT --token-file FILE [--files DIR]
       (MEMUFARM_EXE the program, WINE_RUN the script that runs it)
"""
import hmac
import http.server
import json
import os
import subprocess
import sys
import threading

# The service's status for each exit code of a command that ran (a question answered "no",
# ok with exit code 1, is 200).
STATUS = {0: 200, 1: 500, 2: 422, 3: 503, 4: 504}
MOST_BODY = 1 << 20


def main():
    args = sys.argv[1:]
    if not args or args[0] != "serve" or "--listen" not in args or "--token-file" not in args:
        sys.exit(__doc__)
    host, port = args[args.index("--listen") + 1].rsplit(":", 1)
    if host != "127.0.0.1":
        sys.exit("the stand-in listens on 127.0.0.1 only")
    token_file = args[args.index("--token-file") + 1]
    if token_file[:3].lower() == "z:\\":  # Wine's drive Z: is the root of this machine
        token_file = token_file[2:].replace("\\", "/")
    with open(token_file, encoding="utf-8") as f:
        token = f.read().rstrip("\r\n")
    files = args[args.index("--files") + 1].lower().rstrip("\\") + "\\" if "--files" in args else None
    busy = threading.Lock()
    record_lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def answer(self, status, document):
            body = json.dumps(document).encode()
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            if self.path == "/healthz":
                self.answer(200, {"ok": True})
            else:
                self.answer(404, {"ok": False})

        def do_POST(self):
            if self.headers.get("Host") not in ("127.0.0.1:%s" % port, "localhost:%s" % port):
                return self.answer(403, {"ok": False, "error": {"message": "Host"}})
            given = self.headers.get("Authorization", "")
            if not hmac.compare_digest(given.encode(), ("Bearer " + token).encode()):
                return self.answer(401, {"ok": False, "error": {"message": "no token"}})
            if self.path != "/api/run":
                return self.answer(404, {"ok": False})
            size = int(self.headers.get("Content-Length", "0"))
            if size > MOST_BODY:
                return self.answer(413, {"ok": False})
            raw = self.rfile.read(size)
            if os.environ.get("STAND_IN_RECORD"):
                with record_lock, open(os.environ["STAND_IN_RECORD"], "a", encoding="utf-8") as f:
                    f.write(raw.decode("utf-8", "replace") + "\n")
            try:
                argv = json.loads(raw)["argv"]
                if not all(isinstance(word, str) for word in argv):
                    raise ValueError("argv holds a word that is no text")
            except (ValueError, KeyError, TypeError) as error:
                return self.answer(400, {"ok": False, "error": {"message": str(error)}})
            # install's APK must lie inside --files (the stand-in knows no other command that
            # names a path; the service's own rule is stricter).
            if argv[:1] == ["install"] and len(argv) > 2 and not (
                    files and argv[2].lower().startswith(files) and ".." not in argv[2]):
                return self.answer(422, {"ok": False, "exit_code": 2, "error": {
                    "exit_code": 2, "message": "the APK is not inside --files"}})
            if not busy.acquire(blocking=False):
                return self.answer(503, {"ok": False, "exit_code": 3,
                                         "error": {"exit_code": 3, "message": "busy"}})
            try:
                run = subprocess.run([os.environ["WINE_RUN"], os.environ["MEMUFARM_EXE"],
                                      "--json"] + argv, capture_output=True, timeout=600)
            finally:
                busy.release()
            try:
                # WINE_RUN gives the program's standard error in the same stream.
                lines = run.stdout.decode("utf-8", "replace").splitlines()
                document = json.loads([line for line in lines if line.startswith("{")][-1])
            except (ValueError, IndexError):
                return self.answer(500, {"ok": False, "error": {
                    "message": "no document (exit code %d, %d bytes): %s" % (
                        run.returncode, len(run.stdout), run.stderr.decode("utf-8", "replace"))}})
            document.setdefault("exit_code", run.returncode)
            ok_no = document.get("ok") and run.returncode == 1
            self.answer(200 if ok_no else STATUS.get(run.returncode, 500), document)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", int(port)), Handler)
    print("http://127.0.0.1:%d/?token=%s" % (server.server_address[1], token), flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
