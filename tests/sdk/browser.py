"""Headless Chromium for the page authors' kit: a loopback server and a fresh browser
with no network of its own (Debian's chromium, chromium-driver, python3-selenium)."""
import http.server
import os
import shutil
import tempfile
import threading

try:
    from selenium import webdriver
except ImportError:  # a Python of its own, beside Debian's packages
    import sys
    sys.path.append("/usr/lib/python3/dist-packages")
    from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--window-size=900,600")


def serve(routes):
    """Serves on a free loopback port: routes maps a path, or a prefix ending in "/",
    to a file or folder (a callable(path) may give the bytes). Returns the server."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = self.path.split("?", 1)[0]
            body = None
            for prefix in sorted(routes, key=len, reverse=True):
                target = routes[prefix]
                if callable(target) and path == prefix:
                    body = target(path)
                elif prefix.endswith("/") and path.startswith(prefix):
                    local = os.path.normpath(os.path.join(target, path[len(prefix):]))
                    if local.startswith(target) and os.path.isfile(local):
                        body = open(local, "rb").read()
                elif path == prefix:
                    body = open(target, "rb").read()
                if body is not None:
                    break
            self.send_response(200 if body is not None else 404)
            kind = "text/html" if path.endswith(".html") or "." not in path else "text/plain"
            self.send_header("Content-Type", (kind if not path.endswith(".js")
                                              else "application/javascript") + "; charset=utf-8")
            body = b"not found" if body is None else body
            self.send_header("Content-Length", str(len(body)))
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
        """Runs script (a function body returning a value) until it returns a truthy value."""
        import time
        deadline = time.monotonic() + timeout
        while True:
            value = self.driver.execute_script(script)
            if value or time.monotonic() > deadline:
                return value
            time.sleep(0.05)

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
