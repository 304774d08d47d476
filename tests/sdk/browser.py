"""Headless Chromium for the page authors' kit: a loopback server and a fresh browser
with no network of its own (Debian's chromium, chromium-driver, python3-selenium)."""
import http.server
import os
import shutil
import tempfile
import threading
import time

try:
    from selenium import webdriver
except ImportError:  # a Python of its own, beside Debian's packages
    import sys
    sys.path.append("/usr/lib/python3/dist-packages")
    from selenium import webdriver
from selenium.common.exceptions import JavascriptException
from selenium.webdriver.chrome.service import Service

CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--window-size=900,600")


def serve(routes):
    """Serves on a free loopback port: routes maps a path, or a prefix ending in "/", to a
    file or folder, or a path to a callable(path) giving the bytes, or a tuple (status,
    headers, bytes) whose headers win over the usual ones. Returns the server."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = self.path.split("?", 1)[0]
            prefix = max((p for p in routes if path == p or (p.endswith("/") and path.startswith(p))),
                         key=len, default=None)
            target, status, headers = routes.get(prefix), 200, {}
            if callable(target):
                body = target(path)
                if isinstance(body, tuple):
                    status, headers, body = body
            else:
                local = os.path.normpath(os.path.join(target, path[len(prefix):])) if target else ""
                body = open(local, "rb").read() if os.path.isfile(local) else None
            self.send_response(status if body is not None else 404)
            kind = ("application/javascript" if path.endswith(".js") else
                    "text/html" if path.endswith(".html") or "." not in path else "text/plain")
            body = b"not found" if body is None else body
            headers = dict({"Content-Type": kind + "; charset=utf-8",
                            "Content-Length": str(len(body))}, **headers)
            for name, value in headers.items():
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    server.origin = "http://127.0.0.1:%d" % server.server_address[1]
    return server


class Browser:
    """One headless Chromium with a fresh profile; close() removes it."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="brindlex-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in CHROMIUM_FLAGS + ("--user-data-dir=" + self.profile,):
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        self.driver.set_script_timeout(20)

    def wait_for(self, script, timeout=10.0):
        """Runs script (a function body) until it returns a truthy value, or the time ends.
        A script that fails counts as not yet: on a loaded machine the driver can hand
        back a page whose elements and scripts are still to come. Its last error is
        raised if it never succeeds."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                value, error = self.driver.execute_script(script), None
            except JavascriptException as failure:
                value, error = None, failure
            if value or time.monotonic() > deadline:
                if error is not None:
                    raise error
                return value
            time.sleep(0.05)

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
