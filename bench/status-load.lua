-- SPDX-License-Identifier: GPL-3.0-or-later
-- wrk script: GET /api/v1/status with the service's token, each connection
-- waiting TUNELARK_DELAY_MS between its requests, so that a few connections
-- make a steady rate (Debian's wrk has no rate option of its own). Ends with
-- one RESULT line of figures for bench/daemon_bench.py.
wrk.method = "GET"
wrk.headers["Host"] = os.getenv("TUNELARK_HOST")
wrk.headers["Authorization"] = "Bearer " .. os.getenv("TUNELARK_TOKEN")
local pause = tonumber(os.getenv("TUNELARK_DELAY_MS"))

function delay()
    return pause
end

function done(summary, latency, requests)
    local e = summary.errors
    io.write(string.format(
        "RESULT requests=%d duration_us=%d p50_us=%d p90_us=%d p99_us=%d max_us=%d " ..
        "connect=%d read=%d write=%d timeout=%d status=%d\n",
        summary.requests, summary.duration, latency:percentile(50), latency:percentile(90),
        latency:percentile(99), latency.max, e.connect, e.read, e.write, e.timeout, e.status))
end
