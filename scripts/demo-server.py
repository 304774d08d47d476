#!/usr/bin/env python3
"""Serves the demo folder on the loopback port the demo program opens; the program's
start path, /toolv2/brindlex, is the bridge console page."""
import http.server
import os
import sys

root = os.path.abspath(sys.argv[1])
port = int(sys.argv[2])


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def translate_path(self, path):
        if path.split("?", 1)[0].rstrip("/") == "/toolv2/brindlex":
            path = "/index.html"
        return super().translate_path(path)

    def log_message(self, fmt, *args):
        sys.stderr.write("[demo-server] %s\n" % (fmt % args))


http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
