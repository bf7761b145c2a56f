#!/usr/bin/env python3
"""fetch("URL", "PATH") against servers this test starts on 127.0.0.1 (plain HTTP, and HTTPS with
certificates it makes with the openssl command): what replaces the copy, what is refused, and
that a refused or interrupted fetch leaves the copy byte for byte, inode for inode, with its
modification time, and nothing else in its folder.

argv[1] is the blockset binary.
"""
import email.utils
import gzip
import http.server
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

OLD = b"192.0.2.1\n"
OLD_TIME = 1_600_000_000  # the copy's modification time before each case
LIST = b"198.51.100.7\n203.0.113.0/24\n"
LIST_CIDR = "198.51.100.7/32\n203.0.113.0/24\n"
SERVER_TIME = 1_700_000_000  # the Last-Modified of LIST
LONG_LIST = b"".join(b"10.%d.%d.0/24\n" % (i >> 8, i & 255) for i in range(8000))
BINARY = None
SEEN = {}  # path -> the headers of its last request
STALL = threading.Event()  # set once a stalling answer has sent its first bytes


def http_date(seconds):
    return email.utils.formatdate(seconds, usegmt=True)


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *arguments):
        pass

    def answer(self, status, body=b"", headers=(), length=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        SEEN[self.path] = self.headers
        route = ROUTES.get(self.path.split("?")[0])
        if self.path.startswith("http://"):
            return self.answer(200, LIST)  # asked as a proxy
        if route is None:
            return self.answer(404, b"not here\n")
        route(self)


def dated(handler):
    since = handler.headers.get("If-Modified-Since")
    if since and email.utils.parsedate_to_datetime(since).timestamp() >= SERVER_TIME:
        return handler.answer(304)
    handler.answer(200, LIST, [("Last-Modified", http_date(SERVER_TIME)), ("Content-Type", "text/plain")])


def tagged(handler):
    if handler.headers.get("If-None-Match") == '"v1"':
        return handler.answer(304, headers=[("ETag", '"v1"')])
    handler.answer(200, LIST, [("ETag", '"v1"')])


def stalling(handler):
    handler.send_response(200)
    handler.send_header("Content-Length", str(len(LIST) * 2))
    handler.end_headers()
    handler.wfile.write(LIST)
    handler.wfile.flush()
    STALL.set()
    time.sleep(4)


def gzipped(handler):
    if "gzip" not in handler.headers.get("Accept-Encoding", ""):
        return handler.answer(406)
    handler.answer(200, gzip.compress(LONG_LIST), [("Content-Encoding", "gzip")])


ROUTES = {
    "/list": lambda h: h.answer(200, LIST),
    "/dated": dated,
    "/tagged": tagged,
    "/error": lambda h: h.answer(500, b"oops\n"),
    "/redirect": lambda h: h.answer(302, headers=[("Location", "/dated")]),
    "/loop": lambda h: h.answer(302, headers=[("Location", "/loop")]),
    "/ftp": lambda h: h.answer(302, headers=[("Location", "ftp://127.0.0.1/list")]),
    "/html": lambda h: h.answer(200, LIST, [("Content-Type", "text/html; charset=utf-8")]),
    "/angle": lambda h: h.answer(200, b"<!doctype html>\n<p>192.0.2.9</p>\n", [("Content-Type", "text/plain")]),
    "/cut": lambda h: h.answer(200, LONG_LIST[:1432], length=4000),
    "/empty": lambda h: h.answer(200),
    "/comments": lambda h: h.answer(200, b"# nothing today\n"),
    "/broken": lambda h: h.answer(200, b"198.51.100.7\n198.51.1x\n"),
    "/large": lambda h: h.answer(200, LONG_LIST),
    "/stall": stalling,
    "/gzip": gzipped,
}


def serve(context=None):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if context is not None:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def make_certificates(folder):
    """A CA and a server certificate it signed for 127.0.0.1; a second, unknown CA and one of its own."""
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], cwd=folder, check=True, capture_output=True)
    with open(os.path.join(folder, "san.cnf"), "w") as handle:
        handle.write("subjectAltName=IP:127.0.0.1\n")
    for ca in ("ca", "stranger"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN=test {ca}",
                "-keyout", f"{ca}.key", "-out", f"{ca}.pem")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                "-keyout", f"{ca}-server.key", "-out", f"{ca}-server.csr")
        openssl("x509", "-req", "-in", f"{ca}-server.csr", "-CA", f"{ca}.pem", "-CAkey", f"{ca}.key",
                "-CAcreateserial", "-days", "2", "-extfile", "san.cnf", "-out", f"{ca}-server.pem")
    contexts = []
    for ca in ("ca", "stranger"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(folder, f"{ca}-server.pem"), os.path.join(folder, f"{ca}-server.key"))
        contexts.append(context)
    return contexts


def environment(**extra):
    """The test's environment without any proxy setting (nothing may leave loopback), plus extra."""
    variables = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    variables.update(extra)
    return variables


def fresh_copy(folder, with_etag=False, modified=OLD_TIME):
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, "copy.txt"), "wb") as handle:
        handle.write(OLD)
    if with_etag:
        with open(os.path.join(folder, "copy.txt.etag"), "wb") as handle:
            handle.write(b'"v1"\n')
    os.utime(os.path.join(folder, "copy.txt"), (modified, modified))
    status = os.stat(os.path.join(folder, "copy.txt"))
    return status.st_ino, status.st_mtime_ns


def folder_state(folder):
    state = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as handle:
            state[name] = handle.read()
    return state


def run(folder, script, **extra):
    return subprocess.run([BINARY, "-c", script], cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                          env=environment(**extra), timeout=60)


def check_kept(name, folder, before, failures, etag=False):
    """The copy is what it was: bytes, inode, modification time; nothing else came or went."""
    inode, modified = before
    status = os.stat(os.path.join(folder, "copy.txt"))
    wanted = {"copy.txt": OLD, **({"copy.txt.etag": b'"v1"\n'} if etag else {})}
    if folder_state(folder) != wanted or (status.st_ino, status.st_mtime_ns) != (inode, modified):
        failures.append(f"{name}: the folder holds {folder_state(folder)}, inode or time changed: "
                        f"{(status.st_ino, status.st_mtime_ns) != (inode, modified)}")


def refusals(http, https, stranger, unanswered):
    """(name, URL, bounds, expected reason): each refused, the copy kept."""
    return [
        ("connection not taken", f"{unanswered}/list", ', connect-timeout "500 ms"', "no connection within 500 ms"),
        ("404", f"{http}/missing", "", "HTTP 404"),
        ("500", f"{http}/error", "", "HTTP 500"),
        ("redirect loop", f"{http}/loop", "", "more than 5 redirects"),
        ("redirect to ftp", f"{http}/ftp", "", "redirect to a scheme other than http or https"),
        ("HTML by type", f"{http}/html", "", "an HTML page (text/html)"),
        ("HTML by body", f"{http}/angle", "", "an HTML page (the body starts with '<')"),
        ("cut body", f"{http}/cut", "", "body cut at 1,432 of 4,000 bytes"),
        ("empty body", f"{http}/empty", "", "empty body"),
        ("no addresses", f"{http}/comments", "", "unreadable list (no addresses)"),
        ("unreadable line", f"{http}/broken", "", "unreadable list (line 2: cannot read '198.51.1x')"),
        ("over the size bound", f"{http}/large", ', max-size "64 KiB"', "body over the bound of 65,536 bytes"),
        ("gzip over the bound", f"{http}/gzip", ', max-size "100 KiB"', "body over the bound of 102,400 bytes"),
        ("stall", f"{http}/stall", ', timeout "1 s"', "transfer not done within 1 s"),
        ("not http", "ftp://127.0.0.1/list", "", "only http and https are fetched"),
        ("no URL", "127.0.0.1 list", "", "not a URL"),
        ("unreadable bound", f"{http}/list", ', max-size "12 XB"', "cannot read max-size '12 XB'"),
        ("zero bound", f"{http}/list", ', timeout "0"', "cannot read timeout '0'"),
        ("HTTPS, CA unknown to the system", f"{https}/list", "", None),
        ("HTTPS, unknown CA", f"{stranger}/list", ', ca-file "../certs/ca.pem"', None),
    ]


def check_refusals(folder, urls, failures):
    for name, url, bounds, reason in refusals(*urls):
        before = fresh_copy(folder)
        # The script goes on: the later load reads the old copy.
        result = run(folder, f'fetch("{url}", "copy.txt"{bounds}); save(cidr, stdout, load(auto, "copy.txt"));')
        message = result.stderr.decode()
        expected = f"'{url}': {reason}, 'copy.txt' kept\n"
        certificate = re.fullmatch(re.escape(f"'{url}': ") + r"SSL certificate problem: .*, 'copy.txt' kept\n", message)
        if (reason is None and not certificate) or (reason is not None and message != expected) \
                or result.returncode != 65 or result.stdout != b"192.0.2.1/32\n":
            failures.append(f"{name}: status {result.returncode}, stdout {result.stdout!r}, stderr {message!r}")
        check_kept(name, folder, before, failures)


def check_replaced(name, folder, result, failures, body=LIST, modified=None, etag=None):
    status = os.stat(os.path.join(folder, "copy.txt"))
    wanted = {"copy.txt": body, **({"copy.txt.etag": etag} if etag else {})}
    if result.returncode != 0 or result.stderr or folder_state(folder) != wanted:
        failures.append(f"{name}: status {result.returncode}, stderr {result.stderr!r}, "
                        f"folder {sorted(folder_state(folder))}")
    if modified is not None and status.st_mtime != modified:
        failures.append(f"{name}: modification time {status.st_mtime}, not {modified}")


def check_successes(folder, urls, failures):
    http, https = urls[:2]
    script = 'fetch("%s", "copy.txt"%s);'
    for name, url, bounds, body, modified in [
        ("200", f"{http}/dated", "", LIST, SERVER_TIME),
        ("200 without a date", f"{http}/list", "", LIST, None),
        ("redirect", f"{http}/redirect", "", LIST, SERVER_TIME),
        ("gzip", f"{http}/gzip", ', max-size "1 MiB"', LONG_LIST, None),
        ("HTTPS", f"{https}/list", ', ca-file "../certs/ca.pem", connect-timeout "5 s", timeout "10 s"', LIST, None),
    ]:
        fresh_copy(folder)
        check_replaced(name, folder, run(folder, script % (url, bounds)), failures, body, modified)
    user_agent = SEEN["/list"].get("User-Agent", "")
    if not re.fullmatch(r"blockset/[0-9.]+", user_agent):
        failures.append(f"User-Agent {user_agent!r}")
    # Into a folder with no copy yet; the ETag is kept beside the copy, an old one removed.
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    check_replaced("first fetch", folder, run(folder, script % (f"{http}/tagged", "")), failures, etag=b'"v1"\n')
    fresh_copy(folder, with_etag=True)
    check_replaced("no ETag any more", folder, run(folder, script % (f"{http}/list", "")), failures)


def check_not_modified(folder, urls, failures):
    http = urls[0]
    before = fresh_copy(folder, modified=SERVER_TIME)
    result = run(folder, f'fetch("{http}/dated", "copy.txt");')
    since = SEEN["/dated"].get("If-Modified-Since")
    if result.returncode != 0 or result.stderr or since != http_date(SERVER_TIME):
        failures.append(f"304 by date: status {result.returncode}, stderr {result.stderr!r}, asked since {since!r}")
    check_kept("304 by date", folder, before, failures)
    before = fresh_copy(folder, with_etag=True)
    result = run(folder, f'fetch("{http}/tagged", "copy.txt");')
    if result.returncode != 0 or result.stderr or SEEN["/tagged"].get("If-None-Match") != '"v1"':
        failures.append(f"304 by ETag: status {result.returncode}, stderr {result.stderr!r}")
    check_kept("304 by ETag", folder, before, failures, etag=True)


def check_proxy(folder, urls, failures):
    """The proxy variables libcurl reads are honoured: http_proxy, and no_proxy past it."""
    http = urls[0]
    fresh_copy(folder)
    result = run(folder, 'fetch("http://feeds.invalid/list", "copy.txt");', http_proxy=http)
    check_replaced("through the proxy", folder, result, failures)
    fresh_copy(folder)
    result = run(folder, f'fetch("{http}/list", "copy.txt");', http_proxy="http://127.0.0.1:9", no_proxy="127.0.0.1")
    check_replaced("past the proxy", folder, result, failures)


def check_signals(folder, urls, failures):
    for number in (signal.SIGINT, signal.SIGTERM):
        before = fresh_copy(folder)
        STALL.clear()
        process = subprocess.Popen([BINARY, "-c", f'fetch("{urls[0]}/stall", "copy.txt");'], cwd=folder,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   env=environment())
        if not STALL.wait(20):
            failures.append(f"signal {number}: the transfer never began")
        time.sleep(0.3)  # the first bytes reach the new file
        process.send_signal(number)
        _, error = process.communicate(timeout=20)
        if process.returncode != -number:
            failures.append(f"signal {number}: status {process.returncode}, stderr {error!r}")
        check_kept(f"signal {number}", folder, before, failures)


def check_syntax(folder, failures):
    """The statement's grammar; the copy is never touched by a statement that did not parse."""
    for script, echoed in [('fetch("http://127.0.0.1/list");', b""),
                           ('fetch("http://127.0.0.1/list", "copy.txt", colour "red");', b""),
                           ('fetch("http://127.0.0.1/list", "copy.txt", timeout 5);', b"5"),  # a number is no token
                           ('fetch(stdin, "copy.txt");', b""),
                           ('$aa = fetch("http://127.0.0.1/list", "copy.txt");', b"")]:
        before = fresh_copy(folder)
        result = run(folder, script)
        if (result.returncode, result.stdout, result.stderr) != (0, echoed, b"error: syntax error on line: 1\n"):
            failures.append(f"{script}: status {result.returncode}, stderr {result.stderr!r}")
        check_kept(script, folder, before, failures)
    result = run(folder, "save(cidr, stdout, {fetch});")  # elsewhere a host name, as before
    if b"syntax error" in result.stderr:
        failures.append(f"fetch as a host name: {result.stderr!r}")


def main():
    global BINARY
    BINARY = os.path.abspath(sys.argv[1])
    if shutil.which("openssl") is None:
        print("FAIL: the openssl command is needed (tools/install-deps --tests installs it)")
        return 1
    failures = []
    with tempfile.TemporaryDirectory() as top:
        certs = os.path.join(top, "certs")
        folder = os.path.join(top, "feeds")
        os.mkdir(certs)
        os.mkdir(folder)
        servers = [serve(), *(serve(context) for context in make_certificates(certs))]
        urls = [f"{scheme}://127.0.0.1:{server.server_address[1]}"
                for scheme, server in zip(("http", "https", "https"), servers)]
        # A listening socket whose queue one waiting connection fills: the next is never taken.
        unanswered = socket.socket()
        unanswered.bind(("127.0.0.1", 0))
        unanswered.listen(0)
        waiting = socket.create_connection(unanswered.getsockname())
        urls.append(f"http://127.0.0.1:{unanswered.getsockname()[1]}")
        check_refusals(folder, urls, failures)
        check_successes(folder, urls, failures)
        check_not_modified(folder, urls, failures)
        check_proxy(folder, urls, failures)
        check_signals(folder, urls, failures)
        check_syntax(folder, failures)
        for server in servers:
            server.shutdown()
        waiting.close()
        unanswered.close()
    for failure in failures:
        print(f"FAIL: {failure}")
    if not failures:
        print("fetches replace the copy only with a complete list and keep it otherwise")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
