"""nginx on 127.0.0.1 offering the work data over http and https, started as a user without
root's rights would: one process, every path under a private prefix, and an access log that
the scenarios read to see what each client asked for."""

import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

NGINX = "/usr/sbin/nginx"
# Tab-separated, so that a request line with spaces still splits into the same fields.
LOG_FORMAT = "$connection\\t$status\\t$request_method\\t$uri\\t$http_range\\t$body_bytes_sent"


@dataclass
class Request:
    connection: int
    status: int
    method: str
    uri: str
    range: str  # the Range header, "-" when none
    body_bytes: int


def free_port():
    """A port nobody listens on right now (the kernel's choice for an ephemeral bind)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


class Nginx:
    def __init__(self, root: Path, state: Path):
        self.root, self.state = root, state
        self.access_log = state / "access.log"
        self.process = None

    def __enter__(self):
        self.state.mkdir(parents=True, exist_ok=True)
        self._make_certificate()
        # Another process may take a chosen port before nginx binds it: try a few.
        for _ in range(5):
            if self._start():
                return self
        raise RuntimeError(f"nginx did not start; see {self.state / 'error.log'}")

    def __exit__(self, *_):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def url(self, path, https=False):
        return f"https://127.0.0.1:{self.https_port}{path}" if https else f"http://127.0.0.1:{self.http_port}{path}"

    def log_mark(self):
        """Where the next request's log line will start."""
        return self.access_log.stat().st_size

    def requests_since(self, mark):
        """The requests logged from `mark` on, once the log has stopped growing: nginx may log
        a request a moment after its client has seen the last byte."""
        size = -1
        while size != self.access_log.stat().st_size:
            size = self.access_log.stat().st_size
            time.sleep(0.05)
        with open(self.access_log) as log:
            log.seek(mark)
            return [Request(int(c), int(s), m, u, r, int(b))
                    for c, s, m, u, r, b in (line.rstrip("\n").split("\t") for line in log)]

    def _make_certificate(self):
        if (self.state / "cert.pem").exists():
            return
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650",
                        "-subj", "/CN=127.0.0.1", "-keyout", self.state / "key.pem", "-out", self.state / "cert.pem"],
                       check=True, capture_output=True)

    def _start(self):
        self.http_port, self.https_port = free_port(), free_port()
        s = self.state
        # One process (master_process off) never switches to another user, so run as root it
        # keeps root's rights; run as anyone else it needs no more than theirs.
        (s / "nginx.conf").write_text(f"""daemon off;
master_process off;
worker_processes 1;
pid {s}/nginx.pid;
error_log {s}/error.log warn;
events {{ worker_connections 256; }}
http {{
  log_format bench "{LOG_FORMAT}";
  access_log {self.access_log} bench;
  default_type application/octet-stream;
  sendfile on;
  client_body_temp_path {s}/client_body;
  proxy_temp_path {s}/proxy;
  fastcgi_temp_path {s}/fastcgi;
  uwsgi_temp_path {s}/uwsgi;
  scgi_temp_path {s}/scgi;
  server {{
    listen 127.0.0.1:{self.http_port};
    listen 127.0.0.1:{self.https_port} ssl;
    ssl_certificate {s}/cert.pem;
    ssl_certificate_key {s}/key.pem;
    root {self.root};
  }}
}}
""")
        self.process = subprocess.Popen([NGINX, "-p", f"{s}/", "-c", s / "nginx.conf", "-e", s / "error.log"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(500):  # up to 10 s
            if self.process.poll() is not None:
                return False
            if answers(self.http_port) and answers(self.https_port):
                return True
            time.sleep(0.02)
        self.__exit__()
        return False
