#!/bin/bash
# Wall time of launcher runs that upgrade an older copy whose client is
# running, so that the run stops it first: each run gets a fresh home below
# WORK holding a copy of the client bundle marked build 120, with that
# client started; the launcher's start to exit is printed, then the new
# client is stopped and the home removed.
# Usage: running-client-upgrade.sh LAUNCHER_BUNDLE CLIENT_BUNDLE [RUNS [WORK]]
set -euo pipefail
bundle=$1 client=$2 runs=${3:-5} work=${4:-/tmp}
launcher="$bundle/Contents/MacOS/lumora-launcher"
for ((i = 1; i <= runs; i++)); do
    home=$(mktemp -d "$work/running-upgrade-XXXXXX")
    export HOME=$home QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=$home/.local/share \
        XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache
    mkdir -p "$home/.Lumora"
    cp -a "$client" "$home/.Lumora/Lumora.app"
    sed -i 's/^build_version=.*/build_version=120/' "$home/.Lumora/Lumora.app/Contents/Resources/INFO"
    setsid "$home/.Lumora/Lumora.app/Contents/MacOS/lumora-ui" </dev/null >/dev/null 2>&1 &
    for ((t = 0; t < 2000; t++)); do [[ -s $home/.Lumora/ui.pid ]] && break; sleep 0.01; done
    old=$(sed -n 's/^pid=//p' "$home/.Lumora/ui.pid")
    start=$(date +%s.%N)
    "$launcher" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "run $i: $(echo "$end - $start" | bc) s"
    for ((t = 0; t < 2000; t++)); do
        pid=$(sed -n 's/^pid=//p' "$home/.Lumora/ui.pid" 2>/dev/null || true)
        [[ -n $pid && $pid != "$old" ]] && break
        sleep 0.01
    done
    [[ -n ${pid:-} ]] && kill "$pid" 2>/dev/null || true
    for ((t = 0; t < 2000; t++)); do [[ -e $home/.Lumora/ui.pid ]] || break; sleep 0.01; done
    rm -rf "$home"
done
