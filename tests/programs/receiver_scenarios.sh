#!/usr/bin/env bash
# The shipping program against the virtual receiver installed in the prefix: each row sets the
# receiver's start and fault, starts the program, acts on its dialog through wavelark_probe,
# and checks what the dialog then shows and every output report the receiver received.
#   tests/programs/receiver_scenarios.sh PLAYER.exe
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
player=$1
tools="$root/build/x86_64"
# What our programs and Wine tell on their error streams is kept for the row's report.
run() { "$root/tools/wine-run" "$@" 2>>"$work/stderr"; }
inf="Z:${tools//\//\\}\\wavelark_receiver.inf"
work=$(mktemp -d)
holder=""
trap '[ -z "$holder" ] || end_tree $holder; rm -rf "$work"' EXIT

# Q is a query; BAND:CODE a tune command, in hex as the report carries them.
reports()
{
    local token
    for token in "$@"; do
        if [ "$token" = Q ]; then echo "00 80 00 00 00 00 00"; else echo "00 C0 ${token%%:*} ${token:3:2} ${token:5:2} 00 00"; fi
    done
}

# Ends what a row started, by the ids of that process and its children, should the program not
# end by itself: another run's or a user's copy of it is none of ours.
signal_tree()
{
    local child
    for child in $(ps -o pid= --ppid "$2"); do signal_tree "$1" "$child"; done
    kill "-$1" "$2" 2>/dev/null || true
}
end_tree() { signal_tree TERM "$1"; }

# The prefix's server, and with it the receiver's state, lives as long as a program of it runs:
# one holds it for the whole run, so that a busy machine's pause between two programs loses
# nothing.
"$root/tools/wine-run" "$tools/wavelark_receiver.exe" hold 3600 </dev/null >/dev/null 2>&1 &
holder=$!

# The probe's ACTIONS, timed: each call must end within $within seconds when that is set.
probe()
{
    local started=$SECONDS
    # shellcheck disable=SC2086
    run "$tools/wavelark_probe.exe" $1 | tr -d '\r'
    # A slow action is told on the error stream, which the caller's capture leaves alone, and
    # fails the row through the file: the capture runs in a subshell.
    [ -z "${within:-}" ] || [ $((SECONDS - started)) -le "$within" ] ||
        { echo "FAIL: $name: '$1' took $((SECONDS - started)) s, more than $within" >&2 && touch "$work/slow"; }
}

status=0
# row NAME "SET ARGUMENTS" "ACTIONS" "SHOWN" REPORTS...; "removed" for SET ARGUMENTS: no receiver
# at all while the player runs, installed again after. Set for one row: device=KIND to play
# another device in the receiver's place, also=KIND to list another device beside it, pause=S
# to wait between setting the receiver and starting the player, within=S to bound every action.
row()
{
    local name=$1 settings=$2 actions=$3 want=$4 shown=""
    shift 4
    : >"$work/stderr"
    if [ -n "${device:-}" ]; then run "$tools/wavelark_receiver.exe" remove; run "$tools/wavelark_receiver.exe" install "$inf" "$device"; fi
    [ -z "${also:-}" ] || run "$tools/wavelark_receiver.exe" install "$inf" "$also"
    # shellcheck disable=SC2086
    if [ "$settings" = removed ]; then run "$tools/wavelark_receiver.exe" remove; else run "$tools/wavelark_receiver.exe" set $settings; fi
    sleep "${pause:-0}"
    run "$player" >"$work/player.log" &
    local pid=$! part pulled=""
    # Each "|" in ACTIONS starts the program a second time, which must end by itself; SHOWN then
    # holds what the dialog showed at each "|" too. Each "!" pulls the receiver out there.
    while [[ $actions == *[\|!]* ]]; do
        part=${actions%%[|!]*}
        shown+=$(probe "$part")"${actions:${#part}:1}"
        if [ "${actions:${#part}:1}" = "!" ]; then
            run "$tools/wavelark_receiver.exe" remove
            pulled=yes
        else
            timeout 60 "$root/tools/wine-run" "$player" >/dev/null 2>&1 || { echo "FAIL: $name: the second start did not end" && status=1; }
        fi
        actions=${actions:${#part}+1}
    done
    shown+=$(probe "$actions close")
    for _ in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
    kill -0 $pid 2>/dev/null && echo "FAIL: $name: the player did not end" && status=1 && end_tree $pid
    [ -z "${also:-}" ] || run "$tools/wavelark_receiver.exe" remove "$also"
    # The receiver back in place: a receiver installed again starts afresh, with an empty log.
    [ "$settings" != removed ] && [ -z "$pulled" ] || run "$tools/wavelark_receiver.exe" install "$inf"
    run "$tools/wavelark_receiver.exe" log | tr -d '\r' >"$work/received"
    if [ -n "${device:-}" ]; then
        run "$tools/wavelark_receiver.exe" remove "$device"
        run "$tools/wavelark_receiver.exe" install "$inf"
    fi
    [ ! -f "$work/slow" ] || { rm -f "$work/slow" && status=1; }
    [ "$shown" = "$want" ] || { echo "FAIL: $name: shows '$shown', not '$want'" && status=1; }
    reports "$@" | diff -u - "$work/received" >"$work/diff" ||
        { echo "FAIL: $name: the receiver received otherwise:" && cat "$work/diff" && status=1; }
    # The sound library's complaints about devices and plug-ins the machine lacks are left out.
    grep -v '^ALSA lib ' "$work/stderr" >"$work/said" || true
    [ ! -s "$work/said" ] || { echo "$name: the error streams said:" && sed 's/^/    /' "$work/said"; }
}

# Each action is one exchange: the tune command, when the text is valid, and a query. AM codes
# are kHz + 450, FM codes the tenths of a MHz + 107, times 8.
row "start-up shows the report" "--start FM:87.9" "" "87.9 FM" Q
row "start-up on AM" "--start AM:1710" "" "1710 AM" Q
row "the upper arrow" "--start FM:87.9" "up" "88.0 FM" Q 02:1ED8 Q
row "the top of FM stays" "--start FM:107.9" "up" "107.9 FM" Q 02:2510 Q
row "the bottom of FM stays" "--start FM:83.3" "down" "83.3 FM" Q 02:1D60 Q
row "AM steps by one kHz" "--start AM:522" "up up" "524 AM" Q 12:03CD Q 12:03CE Q
row "the top of AM stays" "--start AM:1710" "up" "1710 AM" Q 12:0870 Q
row "the bottom of AM stays" "--start AM:522" "down" "522 AM" Q 12:03CC Q
row "out-of-band FM sends only queries" "--start FM:76.0" "up down" "76.0 FM" Q Q Q Q Q
row "a refused step's spare answer is not shown later" "--start FM:76.0" "up fm" "87.9 FM" Q Q Q 02:1ED0 Q
row "typed FM gets a decimal" "--start FM:87.9" "type:90" "90.0 FM" Q 02:1F78 Q
row "typed top of FM" "--start FM:87.9" "type:107.9" "107.9 FM" Q 02:2510 Q
row "typed AM loses leading zeros" "--start AM:522" "type:0954" "954 AM" Q 12:057C Q
row "typed AM out of band restores" "--start AM:550" "type:2000" "550 AM" Q 12:03E8 Q
row "typed point in AM restores" "--start AM:550" "type:88.5" "550 AM" Q 12:03E8 Q
# Closing with the focus in the edit applies its text once more, as leaving the edit always does.
row "Enter tunes the typed text" "--start FM:87.9" "enter:100" "100.0 FM" Q 02:2298 Q 02:2298 Q
row "Enter at the bottom of AM" "--start AM:550" "enter:522" "522 AM" Q 12:03CC Q 12:03CC Q
# Up, Down and the wheel over the edit step as the arrows do; a wheel's parts of a notch add up.
row "the Up key steps as the upper arrow" "--start FM:87.9" "key:up" "88.0 FM" Q 02:1ED8 Q 02:1ED8 Q
row "the Down key stays at the bottom of AM" "--start AM:522" "key:down" "522 AM" Q 12:03CC Q 12:03CC Q
# A typed text is not thrown away: Up tunes it as leaving the edit would, then steps from there;
# a text the band refuses gives way to the one shown.
row "the Up key steps from the typed text" "--start FM:87.9" "text:95.5 key:up" "95.6 FM" Q 02:2130 Q 02:2138 Q 02:2138 Q
row "the Up key steps from the shown text past a refused one" "--start FM:87.9" "text:200 key:up" "88.0 FM" Q 02:1ED8 Q 02:1ED8 Q
row "a wheel notch up" "--start FM:87.9" "wheel:120" "88.0 FM" Q 02:1ED8 Q
row "a wheel notch down on AM" "--start AM:1000" "wheel:-120" "999 AM" Q 12:05A9 Q
row "a fine wheel steps once a whole notch" "--start FM:87.9" "wheel:40 wheel:40 wheel:40 wheel:40" "88.0 FM" Q 02:1ED8 Q
row "half a notch up, then a whole one down, steps down" "--start FM:87.9" "wheel:60 wheel:-120" "87.8 FM" Q 02:1EC8 Q
row "each band remembers its frequency" "--start FM:88.0" "am fm" "88.0 FM" Q 12:03CC Q 02:1ED8 Q
row "AM while on AM jumps to 522" "--start AM:550" "am" "522 AM" Q 12:03CC Q
row "a receiver that never answers" "--fault silent" "up" " AM" Q
# A failed write closes the link at once: no action waits for an answer afterwards.
within=5 row "a receiver that refuses writes" "--fault write-fails" "up" " AM"
row "an answer of status 1" "--fault status:1" "" " AM" Q
row "an answer of an unknown band" "--fault band:0x55" "" " AM" Q
within=5 row "unplugged after one answer" "--start AM:1000 --fault unplug-after:1" "up" "1000 AM" Q
within=5 row "pulled out while the player holds it" "--start FM:87.9" "up!up" "88.0 FM!88.0 FM"
row "an answer within the six seconds shows" "--start FM:87.9 --fault late:1000" "up" "88.0 FM" Q 02:1ED8 Q
# Past them the link closes: the later step sends nothing.
row "an answer past the six seconds closes the link" "--start FM:87.9 --fault late:7000" "up" " AM" Q
row "no receiver" removed "up fm" "87.9 FM"
also=other-device row "another device of the vendor listed first" "--start FM:87.9" "up" "88.0 FM" Q 02:1ED8 Q
device=reports-300 row "reports of 300 bytes" "--start AM:1000" "up" "1001 AM" Q 12:05AB Q
# The receiver keeps its state however long the machine pauses before the player starts.
pause=4 row "a pause before the start" "--start AM:1710" "" "1710 AM" Q
# A second start brings the running copy out of the tray and ends, opening nothing of its own.
row "a second start brings the first back" "--start FM:87.9" "tray|" "87.9 FM hidden|87.9 FM" Q
row "a second start restores a first copy minimised from outside" "--start FM:87.9" "minimise|" \
    "87.9 FM minimised|87.9 FM" Q
# A second start that no running player answers tells the user so and ends with an error within
# seconds: behind a program that holds the name with a window carrying the player's mark, and
# behind a first copy that hangs.
no_answer="WavelarkPlayerLite はすでに起動していますが、応答がありません。終了してから、もう一度起動してください。"
second_start_unanswered()
{
    local name=$1 started=$SECONDS code=0 told
    run "$player" >/dev/null &
    local second=$!
    told=$(run "$tools/wavelark_probe.exe" --dismiss | tr -d '\r') || true
    wait $second || code=$?
    [ "$told" = "$no_answer" ] && [ $code -ne 0 ] && [ $((SECONDS - started)) -le 12 ] ||
        { echo "FAIL: $name: told '$told', ended with $code after $((SECONDS - started)) s" && status=1; }
}
run "$tools/wavelark_probe.exe" --impostor 30 >"$work/impostor" &
impostor=$!
for _ in $(seq 100); do [ -s "$work/impostor" ] && break; sleep 0.1; done
second_start_unanswered "a program holding the name, with a marked window"
end_tree $impostor
run "$player" >/dev/null &
first=$!
run "$tools/wavelark_probe.exe" >/dev/null # its dialog shown
signal_tree STOP $first
second_start_unanswered "a first copy that hangs"
signal_tree CONT $first
run "$tools/wavelark_probe.exe" close >/dev/null
for _ in $(seq 300); do kill -0 $first 2>/dev/null || break; sleep 0.1; done
kill -0 $first 2>/dev/null && echo "FAIL: a first copy that hung: it did not end" && status=1 && end_tree $first

# Starts the receiver's 16-bit code cannot hold are refused before anything changes.
for start in FM:808.5 FM:nan FM:-1 AM:65086 AM:522.5; do ! run "$tools/wavelark_receiver.exe" set --start "$start" || { echo "FAIL: --start $start accepted"; status=1; }; done
[ $status -eq 0 ] && echo "every scenario as expected"
exit $status
