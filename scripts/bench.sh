#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and runs the benchmark (not part of the test suite):
#   scripts/bench.sh [BUILD_DIR [IDLE_SECONDS]]
# BUILD_DIR defaults to build/sim (configured with the sim preset if needed),
# IDLE_SECONDS to 30. Writes bench/out/ (table, timeline data, host costs) and
# docs/first-start-timeline.png, and prints the table and the host costs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/sim}")
idle_seconds=${2:-30}
trace_seconds=10
out=$root/bench/out
bench=$build/bench/tunelark-bench
radio=$build/app/Tunelark

# ---- tools: Debian packages, installed when missing ---------------------------
need=()
command -v gnuplot > /dev/null || need+=(gnuplot-nox)
command -v valgrind > /dev/null || need+=(valgrind)
command -v strace > /dev/null || need+=(strace)
command -v ltrace > /dev/null || need+=(ltrace)
command -v addr2line > /dev/null || need+=(binutils)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "bench.sh: missing ${need[*]}; install them (apt-get install ${need[*]}) or run as root" >&2
        exit 1
    fi
    apt-get install -y "${need[@]}" > /dev/null || { apt-get update > /dev/null && apt-get install -y "${need[@]}" > /dev/null; }
fi

# ---- build ------------------------------------------------------------------------
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset sim -B "$build" > /dev/null
fi
cmake --build "$build" -j2 --target Tunelark tunelark-bench > /dev/null

rm -rf "$out"
mkdir -p "$out" "$root/docs"

# ---- simulated time: the table, its self-check, the picture ----------------------
"$bench" table "$out"
"$bench" self-check "$out" > "$out/self-check.txt"
tail -n 1 "$out/self-check.txt"
gnuplot -e "data='$out/timeline.dat'; out='$root/docs/first-start-timeline.png'" "$root/bench/timeline.gp"

# ---- host side: instructions of a first start (twice, to show they repeat) -------
host=$out/host.txt
: > "$host"
for run in 1 2; do
    valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out/callgrind.$run.out" \
        "$bench" first-start "$out/callgrind-work" > /dev/null 2> "$out/callgrind.$run.err"
done
total1=$(sed -n 's/^totals: //p' "$out/callgrind.1.out")
total2=$(sed -n 's/^totals: //p' "$out/callgrind.2.out")
# The simulated board is what the bcm2835 calls reach; the rest is the radio
# (application, driver, station management, link, C library).
inclusive() { # file pattern: inclusive cost of the matching functions, summed
    # callgrind_annotate may list a function twice (once per spelling of its file).
    callgrind_annotate --inclusive=yes --auto=no --threshold=100 "$1" 2> /dev/null |
        awk -v pattern="$2" '$0 ~ pattern {
                 gsub(",", "", $1); name = $3; sub(/.*:/, "", name)
                 if ($1 > cost[name]) cost[name] = $1
             }
             END { for (f in cost) sum += cost[f]; print sum + 0 }'
}
board=$(inclusive "$out/callgrind.1.out" 'sim/Bcm2835[.]cpp:bcm2835_')
{
    echo "instructions of a first start (callgrind, Ir): run 1 $total1, run 2 $total2"
    echo "  inside the simulated board (bcm2835 calls, inclusive): $board"
    echo "  the radio's own (application, driver, station management, C library): $((total1 - board))"
} >> "$host"

# ---- host side: peak resident memory of the real binary ---------------------------
rss_run() { # dir label
    local dir=$1 label=$2 id
    id=$("$bench" prepare "$dir" ${3:-})
    (cd "$dir" && SI468X_SIM_BOARD="$dir/board" SI468X_SIM_CLOCK=virtual TERM=xterm \
        /usr/bin/time -v -o "$dir/time.txt" "$radio" -S "$id" < /dev/null > "$dir/out.txt" 2>&1)
    local kb
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
    local played=no
    grep -q "Playing: " "$dir/out.txt" && played=yes
    echo "peak RSS, $label with -S $id (service started: $played): $kb kB" >> "$host"
}
rss_run "$out/rss-takeover" "takeover start"
rss_run "$out/rss-later" "later start (full bring-up, firmware upload)" down
size "$radio" | tail -n 1 | awk '{ printf "binary: text %d B, data %d B, bss %d B (firmware images in text)\n", $1, $2, $3 }' >> "$host"

# ---- host side: idle in the menu on the real-time clock ---------------------------
"$bench" prepare "$out/idle" > /dev/null
"$bench" idle "$radio" "$out/idle" "$out" "$idle_seconds" "$trace_seconds" > /dev/null
cat "$out/idle.txt" >> "$host"

# Whose code allocates in the key loop: the call site of every allocation that
# ltrace saw, named by addr2line (outermost function of the inline chain).
base=$(awk -v bin="$radio" '$6 == bin { split($1, r, "-"); print r[1]; exit }' "$out/idle-maps.txt")
if [ -n "$base" ]; then
    grep -E -- '->(_Znwm|_Znam|malloc|calloc|realloc)\(' "$out/idle-ltrace.txt" |
        sed -E 's/^[0-9]+ \[0x([0-9a-f]+)\].*/\1/' | sort | uniq -c |
        while read -r count ip; do
            offset=$(printf '0x%x' $((0x$ip - 0x$base)))
            name=$(addr2line -f -C -i -e "$radio" "$offset" | awk 'NR % 2 == 1' | tail -n 1)
            echo "$count ${name%%(*}"
        done | awk '{ n = $1; $1 = ""; sum[$0] += n } END { for (k in sum) print sum[k], k }' |
        sort -rn > "$out/idle-allocations.txt"
    {
        echo "allocation call sites in the key loop (outermost function, calls):"
        # std::string spelled out in full makes a line unreadable.
        sed -e 's/std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >/std::string/g' \
            -e 's/std::less<std::string >, std::allocator<std::pair<std::string const, std::string > > >/...>/g' \
            -e 's/^/  /' "$out/idle-allocations.txt"
    } >> "$host"
fi

# The idle key loop under callgrind: the real binary in the same
# pseudo-terminal, idle for a short and for a long window (its CPU figures
# are valgrind's and are not used). The difference between the two runs is
# what the extra passes cost: instructions, in the simulated board and
# outside it, and calls into the allocator. wgetch's call count gives the
# passes.
idle_callgrind() { # seconds -> "passes Ir board-Ir malloc-calls new-calls"
    local dir=$out/idle-callgrind-$1
    "$bench" prepare "$dir" > /dev/null
    cat > "$dir/radio-under-callgrind.sh" << EOF
#!/bin/sh
exec valgrind --tool=callgrind --callgrind-out-file="$dir/callgrind.out" \
    --log-file="$dir/valgrind.log" "$radio"
EOF
    chmod +x "$dir/radio-under-callgrind.sh"
    "$bench" idle "$dir/radio-under-callgrind.sh" "$dir" "$dir" "$1" 0 > /dev/null
    local cg=$dir/callgrind.out passes
    passes=$(awk '/^c?fn=[(][0-9]+[)] wgetch$/ { split($1, a, /[()]/); id = a[2] }
                  /^cfn=/ { split($1, a, /[()]/); current = a[2] }
                  /^calls=/ { if (id != "" && current == id) { split($1, c, "="); n += c[2] } }
                  END { print n + 0 }' "$cg")
    echo "$passes $(sed -n 's/^totals: //p' "$cg") $(inclusive "$cg" 'sim/Bcm2835[.]cpp:bcm2835_')" \
        "$(calls_to "$cg" malloc) $(calls_to "$cg" 'operator new[(]unsigned long[)]')"
}
calls_to() { # file function: the calls into it, from every caller
    callgrind_annotate --tree=caller --auto=no --threshold=100 "$1" 2> /dev/null |
        awk -v fn="$2" '/^$/ { n = 0; next } { line[++n] = $0 }
            $0 ~ ("[*]  [^ ]*:" fn " [[]") {
                for (i = 1; i < n; i++) {
                    if (match(line[i], /[(][0-9,]+x[)]/)) {
                        c = substr(line[i], RSTART + 1, RLENGTH - 3); gsub(",", "", c); total += c
                    }
                }
                found = 1; exit
            }
            END { print total + 0 }'
}
read -r p1 ir1 b1 m1 n1 <<< "$(idle_callgrind 10)"
read -r p2 ir2 b2 m2 n2 <<< "$(idle_callgrind 20)"
dp=$((p2 - p1))
if [ "$dp" -gt 0 ]; then
    awk -v dp="$dp" -v ir="$((ir2 - ir1))" -v b="$((b2 - b1))" -v m="$((m2 - m1))" -v n="$((n2 - n1))" \
        -v p1="$p1" -v p2="$p2" 'BEGIN {
        printf "idle key loop under callgrind, %d more passes in the longer run (%d against %d):\n", dp, p2, p1
        printf "  instructions a pass: %.0f Ir, of them %.0f in the simulated board, %.0f in the radio and curses\n", ir / dp, b / dp, (ir - b) / dp
        printf "  allocator calls a pass: malloc %.2f, of them through operator new %.2f (call sites: see the ltrace list above)\n", m / dp, n / dp
    }' >> "$host"
else
    echo "idle key loop under callgrind: no extra passes counted ($p1, $p2)" >> "$host"
fi

{
    echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
} >> "$host"
cat "$host"
