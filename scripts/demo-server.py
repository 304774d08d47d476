#!/usr/bin/env python3
"""Serves the demo folder on the loopback port the demo program opens; the program's
start path, /toolv2/brindlex, is the bridge console page, and /sdk/ is the page
authors' kit that the console links to."""
import http.server
import os
import sys

root = os.path.abspath(sys.argv[1])
port = int(sys.argv[2])
sdk = os.path.abspath(sys.argv[3])


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def translate_path(self, path):
        if path.split("?", 1)[0].rstrip("/") == "/toolv2/brindlex":
            path = "/index.html"
        if path.startswith("/sdk/"):
            # One handler per request: the kit's folder serves this one.
            self.directory = sdk
            path = path[len("/sdk"):]
        return super().translate_path(path)

    def guess_type(self, path):
        # The kit's sources are shown as text, not offered as downloads.
        if path.endswith((".md", ".ts")):
            return "text/plain; charset=utf-8"
        return super().guess_type(path)

    def log_message(self, fmt, *args):
        sys.stderr.write("[demo-server] %s\n" % (fmt % args))


http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
