#!/usr/bin/python3
"""A small web server on 127.0.0.1 for scripts/screenshot.sh: answers by path, so that a check
run of the fixture Favorites ends with every kind of verdict. Stops by itself after a while.

  fixture_server.py PORTFILE [SECONDS]   writes the port it listens on to PORTFILE
"""

import http.server
import sys
import threading

ANSWERS = {  # path start: (status, extra header lines)
    "/ok": (200, {}),
    "/dated": (200, {"Last-Modified": "Wed, 09 Oct 2024 10:10:10 GMT"}),
    "/login": (401, {"WWW-Authenticate": 'Basic realm="intern"'}),
    "/gone": (404, {}),
}


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        status, headers = next((a for p, a in ANSWERS.items() if self.path.startswith(p)),
                               (404, {}))
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_HEAD = answer
    do_GET = answer

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    with open(sys.argv[1], "w") as f:
        f.write(str(server.server_address[1]))
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 120
    threading.Timer(seconds, server.shutdown).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
