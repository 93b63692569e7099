-- wrk script for the benchmark: every request asks for BENCH_TARGET (an absolute URI when
-- wrk talks to a proxy, a path when it talks to the origin) with "Connection: close", so
-- each request costs a connection, as browsers behind Tenvar pay. The request is built
-- once by wrk's default init. done() prints one machine-readable line for bench/driver.py.
wrk.method = "GET"
wrk.path = os.getenv("BENCH_TARGET") or "/"
wrk.headers["Connection"] = "close"

done = function(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format("BENCH_RESULT requests=%d duration_us=%d bytes=%d p50_us=%d p99_us=%d "
                         .. "connect=%d read=%d write=%d status=%d timeout=%d\n",
                         summary.requests, summary.duration, summary.bytes,
                         latency:percentile(50), latency:percentile(99),
                         errors.connect, errors.read, errors.write, errors.status,
                         errors.timeout))
end
