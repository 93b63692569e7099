#!/usr/bin/env python3
"""Measures Tenvar against nginx direct and its peers (tinyproxy, privoxy, squid), all on
loopback inside the network namespace bench/run made, and prints one table.

Run through bench/run, never on its own: it expects the namespace, the tools and the
optimised build to be there. Every load is bounded: wrk runs for BENCH_SECONDS, the idle
test holds its connections for BENCH_IDLE_SECONDS, and every process started here is
stopped again by its own pid.
"""

import hashlib
import os
import pwd
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TENVAR = os.environ.get("BENCH_TENVAR", os.path.join(ROOT, "build-bench", "tenvar"))
LUA = os.path.join(ROOT, "bench", "proxy.lua")

RUNS = int(os.environ.get("BENCH_RUNS", "3"))
SECONDS = int(os.environ.get("BENCH_SECONDS", "5"))
CONNECTIONS = int(os.environ.get("BENCH_CONNECTIONS", "32"))
WRK_THREADS = int(os.environ.get("BENCH_THREADS", "1"))
IDLE_CONNECTIONS = int(os.environ.get("BENCH_IDLE_CONNECTIONS", "10000"))
DOWNLOADS = int(os.environ.get("BENCH_DOWNLOADS", "100"))
IDLE_SECONDS = int(os.environ.get("BENCH_IDLE_SECONDS", "10"))
KEEP = os.environ.get("BENCH_KEEP", "0") == "1"

ORIGIN_PORT = 8000
PORTS = {
    "tenvar": 8101,
    "tenvar-cache": 8106,
    "tinyproxy": 8102,
    "privoxy": 8103,
    "squid-relay": 8104,
    "squid-cache": 8105,
    "tenvar-huge": 8107,
    "tenvar-gzip": 8108,
}
SIZES = [("1 KiB", "1k.bin", 1024), ("64 KiB", "64k.bin", 64 * 1024),
         ("1 MiB", "1m.bin", 1024 * 1024)]
BIG = ("200 MiB", "200m.bin", 200 * 1024 * 1024)
UPLOAD = ("100 MiB", 100 * 1024 * 1024)
HUGE = ("30 MiB", "30m.bin", 30 * 1024 * 1024)
PAGES = 30  # text pages nginx serves gzip-encoded, for the cache's hit rate
# nginx gives these a Last-Modified far in the past, so squid's heuristic keeps them fresh.
OLD_MTIME = 1_500_000_000

ROWS = [
    ("nginx direct", "nginx"),
    ("Tenvar (cache off)", "tenvar"),
    ("tinyproxy", "tinyproxy"),
    ("privoxy", "privoxy"),
    ("squid relay", "squid-relay"),
    ("squid cache hits", "squid-cache"),
    ("Tenvar cache hits", "tenvar-cache"),
]
RELAY_PEERS = ["tinyproxy", "privoxy", "squid-relay"]


def log(text):
    print(text, file=sys.stderr, flush=True)


def wait_listening(port, seconds=20, process=None):
    """Bounded readiness check for a freshly started server: it listens or it failed."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Peer:
    """One started server process, stopped by its own pid."""

    def __init__(self, name, argv, cwd, env=None, port=None, stop_signal=signal.SIGTERM):
        self.name = name
        self.stderr = open(os.path.join(cwd, name + ".stderr"), "wb")
        self.stdout = open(os.path.join(cwd, name + ".stdout"), "wb")
        self.process = subprocess.Popen(argv, cwd=cwd, env=env, stdout=self.stdout,
                                        stderr=self.stderr, stdin=subprocess.DEVNULL)
        self.stop_signal = stop_signal
        self.port = port
        if port is not None and not wait_listening(port, process=self.process):
            self.stop()
            with open(self.stderr.name, "rb") as text:
                detail = text.read().decode(errors="replace")[-2000:]
            raise RuntimeError(f"{name} did not listen on {port}: {detail}")

    @property
    def pid(self):
        return self.process.pid

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(self.stop_signal)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.stderr.close()
        self.stdout.close()


# ---- process statistics from /proc ------------------------------------------------------

def process_tree(pid):
    """pid and its descendants (squid forks helpers)."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    tree, queue = [], [pid]
    while queue:
        current = queue.pop()
        tree.append(current)
        queue.extend(children.get(current, []))
    return tree


def cpu_seconds(pid):
    """CPU time of the whole tree, summed over the live threads (nanosecond schedstat)."""
    total = 0
    for member in process_tree(pid):
        try:
            for task in os.listdir(f"/proc/{member}/task"):
                with open(f"/proc/{member}/task/{task}/schedstat") as stat:
                    total += int(stat.read().split()[0])
        except OSError:
            continue
    return total / 1e9


def status_kib(pid, field):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def tree_rss_kib(pid):
    total = 0
    for member in process_tree(pid):
        try:
            total += status_kib(member, "VmRSS")
        except OSError:
            continue
    return total


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


# ---- the origin and the proxies ---------------------------------------------------------

def write_file(path, size, seed):
    block = hashlib.sha256(str(seed).encode()).digest() * 2048  # 64 KiB of varied bytes
    with open(path, "wb") as out:
        left = size
        while left > 0:
            piece = block[:min(left, len(block))]
            out.write(piece)
            left -= len(piece)
    os.utime(path, (OLD_MTIME, OLD_MTIME))


def start_origin(work):
    root = os.path.join(work, "www")
    os.makedirs(root)
    for seed, (_, name, size) in enumerate(SIZES + [BIG, HUGE]):
        write_file(os.path.join(root, name), size, seed)
    os.makedirs(os.path.join(root, "pages"))
    for page in range(PAGES):
        with open(os.path.join(root, "pages", f"p{page}.html"), "w") as out:
            out.write("<html><body>" + f"<p>Page {page}, line {{}}.</p>\n" * 400 + "</body></html>")
    base = os.path.join(work, "nginx")
    os.makedirs(os.path.join(base, "temp"))
    conf = os.path.join(base, "nginx.conf")
    with open(conf, "w") as out:
        out.write(f"""pid {base}/nginx.pid;
error_log {base}/error.log warn;
master_process off;
daemon off;
worker_rlimit_nofile 65536;
events {{ worker_connections 8192; }}
http {{
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path {base}/temp/body;
  proxy_temp_path {base}/temp/proxy;
  fastcgi_temp_path {base}/temp/fastcgi;
  uwsgi_temp_path {base}/temp/uwsgi;
  scgi_temp_path {base}/temp/scgi;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{ORIGIN_PORT} backlog=4096;
    root {root};
    # Today's sites send their text gzip-encoded, also to proxies.
    location /pages/ {{ gzip on; gzip_proxied any; gzip_min_length 0; gzip_http_version 1.0; }}
    # Takes an upload of any size and throws it away.
    location = /sink {{ client_max_body_size 0; return 200 "taken\\n"; }}
  }}
}}
""")
    return Peer("nginx", ["nginx", "-c", conf, "-e", base + "/error.log"], work,
                port=ORIGIN_PORT)


def start_tenvar(work, name, use_cache):
    base = os.path.join(work, name)
    os.makedirs(os.path.join(base, "cache"), exist_ok=True)
    os.makedirs(os.path.join(base, "config"), exist_ok=True)
    ini = os.path.join(base, "Tenvar.ini")
    # The shipped instance's switches (logging on, no abuse detection), on a bench port.
    with open(ini, "w") as out:
        out.write(f"""LogFile {base}/Tenvar.log
CacheDir {base}/cache
Dial No
Timeout 5
FTPPort 0
LimitCache No
CacheLimit 0
CacheExpiry 7
<HTTPProxy Office:{PORTS[name]}>
  UseUpstream No
  UpstreamProxyPort 0
  UseCache {"Yes" if use_cache else "No"}
  AlwaysGetNewest No
  AdvancedBlocking No
  EnableLogging Yes
  AbuseDetection No
  AbuseKeywords
  TrustedSites
  RequestsLog
</HTTPProxy>
""")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(base, "config"))
    return Peer(name, [TENVAR, "--headless", ini], base, env=env, port=PORTS[name])


def start_tinyproxy(work):
    base = os.path.join(work, "tinyproxy")
    os.makedirs(base)
    conf = os.path.join(base, "tinyproxy.conf")
    with open(conf, "w") as out:
        out.write(f"""Port {PORTS["tinyproxy"]}
Listen 127.0.0.1
Timeout 600
MaxClients 2048
Allow 127.0.0.1
LogLevel Critical
LogFile "{base}/tinyproxy.log"
PidFile "{base}/tinyproxy.pid"
DisableViaHeader Yes
""")
    return Peer("tinyproxy", ["tinyproxy", "-d", "-c", conf], base, port=PORTS["tinyproxy"])


def start_privoxy(work):
    base = os.path.join(work, "privoxy")
    os.makedirs(base)
    conf = os.path.join(base, "config")
    with open(conf, "w") as out:
        out.write(f"""confdir {base}
logdir {base}
listen-address 127.0.0.1:{PORTS["privoxy"]}
toggle 0
enable-remote-toggle 0
enable-edit-actions 0
max-client-connections 2048
socket-timeout 300
""")
    return Peer("privoxy", ["privoxy", "--no-daemon", conf], base, port=PORTS["privoxy"])


def start_squid(work, name, cache):
    base = os.path.join(work, name)
    os.makedirs(base)
    user = pwd.getpwnam("nobody")
    os.chown(base, user.pw_uid, user.pw_gid)
    conf = os.path.join(base, "squid.conf")
    caching = ("cache_mem 64 MB\nmaximum_object_size_in_memory 2 MB\n"
               "maximum_object_size 2 MB\nrefresh_pattern . 1440 80% 10080\n"
               if cache else "cache deny all\ncache_mem 8 MB\n")
    with open(conf, "w") as out:
        out.write(f"""http_port 127.0.0.1:{PORTS[name]}
http_access allow all
{caching}visible_hostname tenvar-bench
cache_effective_user nobody
pid_filename {base}/squid.pid
cache_log {base}/cache.log
access_log none
cache_store_log none
coredump_dir {base}
netdb_filename none
pinger_enable off
dns_nameservers 127.0.0.1
shutdown_lifetime 0 seconds
max_filedescriptors 8192
client_persistent_connections off
server_persistent_connections off
""")
    service = f"tenvarbench{os.getpid()}{name.replace('-', '')}"
    peer = Peer(name, ["squid", "-n", service, "-N", "-f", conf], base, port=PORTS[name],
                stop_signal=signal.SIGKILL)
    peer.service = service
    return peer


def stop_squid(peer):
    peer.stop()
    for entry in os.listdir("/dev/shm"):
        if entry.startswith(peer.service + "-"):
            try:
                os.unlink(os.path.join("/dev/shm", entry))
            except OSError:
                pass


# ---- loads -------------------------------------------------------------------------------

def origin_url(name):
    return f"http://127.0.0.1:{ORIGIN_PORT}/{name}"


def fetch(port, name, proxy=True, headers=False):
    """One request through curl; (status, body size, sha256, header text)."""
    argv = ["curl", "-s", "--max-time", "60", "-H", "Connection: close", "-o", "-", "-D",
            "/dev/stderr"]
    if proxy:
        argv += ["-x", f"http://127.0.0.1:{port}"]
    argv.append(origin_url(name))
    done = subprocess.run(argv, capture_output=True, timeout=90)
    head = done.stderr.decode(errors="replace")
    match = re.search(r"HTTP/\d\.\d (\d+)", head)
    return (int(match.group(1)) if match else 0, len(done.stdout),
            hashlib.sha256(done.stdout).hexdigest(), head)


def check_relays(label, port, expected):
    for _, name, size in SIZES:
        status, length, digest, head = fetch(port, name)
        if status != 200 or length != size or digest != expected[name]:
            raise RuntimeError(f"{label} answered {name} wrongly: status {status}, "
                               f"{length} bytes; headers: {head}")


def run_wrk(port, target):
    env = dict(os.environ, BENCH_TARGET=target)
    argv = ["wrk", "-t", str(WRK_THREADS), "-c", str(CONNECTIONS), "-d", f"{SECONDS}s",
            "--timeout", "10s", "-s", LUA, f"http://127.0.0.1:{port}"]
    done = subprocess.run(argv, env=env, capture_output=True, text=True,
                          timeout=SECONDS + 60)
    match = re.search(r"BENCH_RESULT (.*)", done.stdout)
    if not match:
        raise RuntimeError(f"wrk gave no result: {done.stdout} {done.stderr}")
    values = dict(item.split("=") for item in match.group(1).split())
    values = {key: int(value) for key, value in values.items()}
    kinds = {key: values[key] for key in ("connect", "read", "write", "status", "timeout")
             if values[key]}
    if kinds:
        log(f"  wrk errors on {target} via port {port}: {kinds}")
    return (values["requests"] / (values["duration_us"] / 1e6), values["p99_us"] / 1000,
            sum(kinds.values()))


def measure(label, port, proxy, results):
    for size_label, name, _ in SIZES:
        target = origin_url(name) if proxy else "/" + name
        runs = [run_wrk(port, target) for _ in range(RUNS)]
        rate = statistics.median(run[0] for run in runs)
        p99 = statistics.median(run[1] for run in runs)
        errors = sum(run[2] for run in runs)
        results[(label, size_label)] = (rate, p99, errors)
        log(f"  {label:14} {size_label:7} {rate:10.0f} req/s  p99 {p99:8.2f} ms  "
            f"errors {errors}  runs {[round(run[0]) for run in runs]}")


def hold_idle(port, pid):
    """Opens IDLE_CONNECTIONS connections that send nothing and holds them for
    IDLE_SECONDS; the proxy's CPU seconds over the hold and its resident memory then."""
    baseline_rss = tree_rss_kib(pid)
    sockets = []
    for _ in range(IDLE_CONNECTIONS):
        # A proxy that takes no more (a full listen queue) holds what it took.
        try:
            sockets.append(socket.create_connection(("127.0.0.1", port), timeout=2))
        except OSError:
            break
    # Let the proxy take every connection before the clock starts.
    time.sleep(1)
    cpu_before = cpu_seconds(pid)
    time.sleep(IDLE_SECONDS)
    cpu = cpu_seconds(pid) - cpu_before
    rss = tree_rss_kib(pid)
    threads = thread_count(pid)
    # A connection the proxy dropped during the hold reads as end of file now.
    held = 0
    for sock in sockets:
        sock.setblocking(False)
        try:
            held += 1 if sock.recv(1) != b"" else 0
        except BlockingIOError:
            held += 1
        except OSError:
            pass
    for sock in sockets:
        sock.close()
    return {"cpu": cpu, "rss": rss, "baseline": baseline_rss, "held": held,
            "threads": threads}


def big_relay(work):
    """Tenvar's peak resident memory relaying BIG, on a fresh process."""
    tenvar = start_tenvar(work, "tenvar", use_cache=False)
    try:
        before = status_kib(tenvar.pid, "VmHWM")
        status, length, _, head = fetch(PORTS["tenvar"], BIG[1])
        peak = status_kib(tenvar.pid, "VmHWM")
        if status != 200 or length != BIG[2]:
            raise RuntimeError(f"200 MiB relay failed: status {status}, {length} bytes {head}")
        return before, peak
    finally:
        tenvar.stop()


def big_upload(work):
    """Tenvar taking a POST of UPLOAD's size to nginx, on a fresh process: seconds from the
    first byte sent to the answer's end, and peak resident memory before and after."""
    tenvar = start_tenvar(work, "tenvar", use_cache=False)
    try:
        before = status_kib(tenvar.pid, "VmHWM")
        block = os.urandom(1 << 20)
        head = (f"POST {origin_url('sink')} HTTP/1.1\r\nHost: 127.0.0.1:{ORIGIN_PORT}\r\n"
                f"Content-Length: {UPLOAD[1]}\r\n\r\n").encode()
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", PORTS["tenvar"]), timeout=60) as conn:
            conn.sendall(head)
            for _ in range(UPLOAD[1] // len(block)):
                conn.sendall(block)
            reply = b""
            while chunk := conn.recv(65536):
                reply += chunk
        seconds = time.monotonic() - start
        if not reply.startswith(b"HTTP/1.1 200"):
            raise RuntimeError(f"{UPLOAD[0]} upload failed: {reply[:200]!r}")
        return {"seconds": seconds, "before": before,
                "peak": status_kib(tenvar.pid, "VmHWM")}
    finally:
        tenvar.stop()


def huge_downloads(work):
    """DOWNLOADS machines fetching one HUGE cacheable file at once through a caching Tenvar,
    then its cache hits under wrk: peak resident memory after each, and the hits' rate."""
    tenvar = start_tenvar(work, "tenvar-huge", use_cache=True)
    try:
        argv = ["curl", "-s", "--max-time", "300", "-o", "/dev/null", "-w",
                "%{http_code} %{size_download}", "-x", f"http://127.0.0.1:{PORTS['tenvar-huge']}",
                origin_url(HUGE[1])]
        fetches = [subprocess.Popen(argv, stdout=subprocess.PIPE, text=True)
                   for _ in range(DOWNLOADS)]
        answers = [fetch.communicate(timeout=360)[0] for fetch in fetches]
        wrong = [answer for answer in answers if answer != f"200 {HUGE[2]}"]
        if wrong:
            raise RuntimeError(f"{len(wrong)} of {DOWNLOADS} downloads failed: {wrong[:3]}")
        peak_downloads = status_kib(tenvar.pid, "VmHWM")
        rate, _, errors = run_wrk(PORTS["tenvar-huge"], origin_url(HUGE[1]))
        return {"downloads_peak": peak_downloads, "hits_rate": rate, "hits_errors": errors,
                "hits_peak": status_kib(tenvar.pid, "VmHWM")}
    finally:
        tenvar.stop()


def gzip_hits(work):
    """Two loads of PAGES gzip-encoded pages through a caching Tenvar, as a browser that
    accepts gzip makes them: how many of the second load were cache hits."""
    tenvar = start_tenvar(work, "tenvar-gzip", use_cache=True)
    try:
        log_file = os.path.join(work, "tenvar-gzip", "Tenvar.log")
        for _ in range(2):
            for page in range(PAGES):
                argv = ["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "-H",
                        "Accept-Encoding: gzip, deflate, br", "-x",
                        f"http://127.0.0.1:{PORTS['tenvar-gzip']}",
                        origin_url(f"pages/p{page}.html")]
                done = subprocess.run(argv, capture_output=True, text=True, timeout=60)
                if done.stdout != "200":
                    raise RuntimeError(f"page {page} answered {done.stdout}")
        with open(log_file, errors="replace") as text:
            return sum(1 for line in text if "from cache" in line and "/pages/" in line)
    finally:
        tenvar.stop()


# ---- the table ---------------------------------------------------------------------------

def ratio(a, b):
    return a / b if b else float("nan")


def print_table(results, idle, big, upload, huge, pages, checks):
    lines = []
    lines.append(f"Tenvar benchmark: wrk -t{WRK_THREADS} -c{CONNECTIONS}, "
                 f"{RUNS} x {SECONDS} s per cell (median), every request "
                 "'Connection: close', loopback")
    header = f"{'':22}" + "".join(f"| {size:^21} " for size, _, _ in SIZES)
    lines.append(header)
    lines.append(f"{'':22}" + "| {:>10} {:>10} ".format("req/s", "p99 ms") * len(SIZES))
    lines.append("-" * len(header))
    for label, key in ROWS:
        row = f"{label:22}"
        for size_label, _, _ in SIZES:
            rate, p99, errors = results[(key, size_label)]
            mark = "*" if errors else " "
            row += f"| {rate:10.0f} {p99:9.2f}{mark} "
        lines.append(row)
    lines.append("(* = wrk counted errors in that cell)")
    lines.append("")
    lines.append(f"{'Ratios':22}" + "".join(f"| {size:^10} " for size, _, _ in SIZES))
    ratio_rows = [("Tenvar / nginx direct", "tenvar", ["nginx"]),
                  ("Tenvar / best relay", "tenvar", RELAY_PEERS),
                  ("Tenvar / tinyproxy", "tenvar", ["tinyproxy"]),
                  ("Tenvar / privoxy", "tenvar", ["privoxy"]),
                  ("Tenvar / squid relay", "tenvar", ["squid-relay"]),
                  ("Tenvar hits / squid hits", "tenvar-cache", ["squid-cache"])]
    for label, ours, theirs in ratio_rows:
        row = f"{label:22}"
        for size_label, _, _ in SIZES:
            best = max(results[(peer, size_label)][0] for peer in theirs)
            row += f"| {ratio(results[(ours, size_label)][0], best):10.2f} "
        lines.append(row)
    lines.append("")
    lines.append(f"{IDLE_CONNECTIONS} idle connections held {IDLE_SECONDS} s (CPU over the hold; "
                 "RSS while held, and before they were opened):")
    lines.append(f"  {'':14} | {'on a fresh process':^36} | {'after the load runs':^36}")
    lines.append(f"  {'proxy':14} |" + f" {'CPU s':>7} {'RSS MiB':>8} {'before':>7} {'held':>5} "
                 f"{'thr':>4} |" * 2)
    for key, value in idle.items():
        row = f"  {key:14} |"
        for state in ("fresh", "loaded"):
            held = value[state]
            row += (f" {held['cpu']:7.3f} {held['rss'] / 1024:8.1f} {held['baseline'] / 1024:7.1f} "
                    f"{held['held']:5} {held['threads']:4} |")
        lines.append(row)
    lines.append("")
    lines.append(f"Tenvar relaying {BIG[0]}: peak RSS (VmHWM) {big[1] / 1024:.1f} MiB "
                 f"(before the transfer {big[0] / 1024:.1f} MiB)")
    lines.append(f"Tenvar taking a {UPLOAD[0]} POST: "
                 f"{UPLOAD[1] / 2**20 / upload['seconds']:.0f} MiB/s, peak RSS (VmHWM) "
                 f"{upload['peak'] / 1024:.1f} MiB (before {upload['before'] / 1024:.1f} MiB)")
    lines.append(f"Tenvar, {DOWNLOADS} machines fetching one {HUGE[0]} cacheable file at once: "
                 f"peak RSS {huge['downloads_peak'] / 1024:.1f} MiB; then its cache hits: "
                 f"{huge['hits_rate']:.0f} req/s, peak RSS {huge['hits_peak'] / 1024:.1f} MiB"
                 f"{' (wrk errors)' if huge['hits_errors'] else ''}")
    lines.append(f"Second load of {PAGES} gzip-encoded pages: {pages} cache hits")
    lines.append("")
    lines.append("Targets:")
    for text, passed in checks:
        lines.append(f"  [{'pass' if passed else 'FAIL'}] {text}")
    print("\n".join(lines), flush=True)


def evaluate(results, idle, big, upload, huge, pages):
    checks = []
    for size_label, _, _ in SIZES:
        ours = results[("tenvar", size_label)][0]
        best = max(results[(peer, size_label)][0] for peer in RELAY_PEERS)
        need = 2.0 if size_label == "1 MiB" else 1.5
        checks.append((f"{size_label}: Tenvar {ratio(ours, best):.2f}x best relay "
                       f"(need {need}x)", ratio(ours, best) >= need))
        if size_label == "1 MiB":
            direct = results[("nginx", size_label)][0]
            checks.append((f"{size_label}: Tenvar {ratio(ours, direct):.2f}x nginx direct "
                           "(need 0.5x)", ratio(ours, direct) >= 0.5))
        hits = results[("tenvar-cache", size_label)][0]
        squid = results[("squid-cache", size_label)][0]
        checks.append((f"{size_label}: Tenvar hits {ratio(hits, squid):.2f}x squid hits "
                       "(need 1.5x)", ratio(hits, squid) >= 1.5))
    for state, text in (("fresh", "fresh process"), ("loaded", "after the load runs")):
        ours = idle["Tenvar"][state]
        checks.append((f"idle, {text}: Tenvar {ours['cpu']:.3f} CPU s (need < 0.05)",
                       ours["cpu"] < 0.05))
        tiny = idle.get("tinyproxy")
        if tiny:
            tiny = tiny[state]
            checks.append((f"idle, {text}: Tenvar {ours['rss'] / 1024:.1f} MiB vs tinyproxy "
                           f"{tiny['rss'] / 1024:.1f} MiB (need less)",
                           ours["rss"] < tiny["rss"]))
    checks.append((f"{BIG[0]} relay: peak RSS {big[1] / 1024:.1f} MiB (need < 64)",
                   big[1] < 64 * 1024))
    checks.append((f"{UPLOAD[0]} POST: peak RSS {upload['peak'] / 1024:.1f} MiB (need < 16)",
                   upload["peak"] < 16 * 1024))
    checks.append((f"{DOWNLOADS} x {HUGE[0]} downloads: peak RSS "
                   f"{huge['downloads_peak'] / 1024:.1f} MiB (need < 64)",
                   huge["downloads_peak"] < 64 * 1024))
    checks.append((f"gzip pages: {pages} of {PAGES} hits on the second load (need >= 25)",
                   pages >= 25))
    for state, text in (("fresh", "fresh process"), ("loaded", "after the load runs")):
        ours = idle["Tenvar"][state]
        if IDLE_CONNECTIONS >= 10000:
            checks.append((f"{IDLE_CONNECTIONS} idle, {text}: Tenvar {ours['rss'] / 1024:.1f} MiB "
                           "(need < 48)", ours["rss"] < 48 * 1024))
    return checks


def main():
    for tool in ("nginx", "wrk", "curl", "tinyproxy", "privoxy", "squid"):
        if shutil.which(tool) is None and not os.path.exists("/usr/sbin/" + tool):
            sys.exit(f"bench: {tool} is missing; bench/run installs it")
    if not os.access(TENVAR, os.X_OK):
        sys.exit(f"bench: no optimised build at {TENVAR}; bench/run builds it")
    work = tempfile.mkdtemp(prefix="tenvar-bench-")
    os.chmod(work, 0o711)  # squid drops to nobody and must reach its own folder
    results, idle, peers = {}, {}, []
    try:
        log(f"bench: working in {work}")
        origin = start_origin(work)
        peers.append(origin)
        expected = {}
        for _, name, size in SIZES:
            status, length, digest, _ = fetch(ORIGIN_PORT, name, proxy=False)
            if status != 200 or length != size:
                raise RuntimeError(f"origin answered {name} wrongly")
            expected[name] = digest

        log("bench: nginx direct")
        measure("nginx", ORIGIN_PORT, False, results)

        # One proxy at a time, so none takes CPU from another's measurement.
        starters = [
            ("tenvar", "Tenvar", lambda: start_tenvar(work, "tenvar", use_cache=False)),
            ("tinyproxy", "tinyproxy", lambda: start_tinyproxy(work)),
            ("privoxy", "privoxy", lambda: start_privoxy(work)),
            ("squid-relay", "squid relay", lambda: start_squid(work, "squid-relay", False)),
        ]
        for key, label, start in starters:
            log(f"bench: {label}")
            peer = start()
            try:
                # Idle connections on the fresh process show what holding them costs; again
                # after the load runs, what the proxy keeps from a busy spell adds to it.
                fresh = hold_idle(PORTS[key], peer.pid)
                check_relays(label, PORTS[key], expected)
                measure(key, PORTS[key], True, results)
                idle[label] = {"fresh": fresh, "loaded": hold_idle(PORTS[key], peer.pid)}
                log(f"  idle: {idle[label]}")
            finally:
                stop_squid(peer) if key.startswith("squid") else peer.stop()

        log("bench: squid cache hits")
        squid = start_squid(work, "squid-cache", True)
        try:
            for _, name, _ in SIZES:
                fetch(PORTS["squid-cache"], name)
                status, _, digest, head = fetch(PORTS["squid-cache"], name)
                if status != 200 or digest != expected[name] or "HIT" not in head:
                    raise RuntimeError(f"squid does not serve {name} from its cache: {head}")
            measure("squid-cache", PORTS["squid-cache"], True, results)
        finally:
            stop_squid(squid)

        log("bench: Tenvar cache hits")
        tenvar = start_tenvar(work, "tenvar-cache", use_cache=True)
        try:
            for _, name, _ in SIZES:
                fetch(PORTS["tenvar-cache"], name)
            cached = os.path.join(work, "tenvar-cache", "cache")
            stored = {file for _, _, files in os.walk(cached) for file in files}
            missing = [name for _, name, _ in SIZES if name not in stored]
            if missing:
                raise RuntimeError(f"Tenvar did not cache {missing}")
            check_relays("Tenvar cache", PORTS["tenvar-cache"], expected)
            measure("tenvar-cache", PORTS["tenvar-cache"], True, results)
        finally:
            tenvar.stop()

        log(f"bench: Tenvar relaying {BIG[0]}")
        big = big_relay(work)
        log(f"bench: Tenvar taking a {UPLOAD[0]} POST")
        upload = big_upload(work)
        log(f"bench: Tenvar, {DOWNLOADS} downloads of {HUGE[0]} and its cache hits")
        huge = huge_downloads(work)
        log(f"bench: Tenvar's hit rate on {PAGES} gzip-encoded pages")
        pages = gzip_hits(work)
        print_table(results, idle, big, upload, huge, pages,
                    evaluate(results, idle, big, upload, huge, pages))
    finally:
        for peer in reversed(peers):
            peer.stop()
        if KEEP:
            log(f"bench: kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
