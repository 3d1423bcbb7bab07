#!/bin/bash
# Checks that no source file includes a header of a higher layer, and that widgets stay in the ui layer.
# Layers from the top: app, ui, search, controller, device, interface, log, platform. A file's layer is its
# top folder, except that a file under any ui/ folder is in the ui layer. Run from anywhere; exit 1 on a breach.
set -euo pipefail
cd "$(dirname "$0")/.."

widgets=$(mktemp)
trap 'rm -f "$widgets"' EXIT
for d in /usr/include/*/qt5/QtWidgets /usr/include/qt5/QtWidgets; do
    if [[ -d $d ]]; then
        ls "$d" >"$widgets"
        break
    fi
done
if [[ ! -s $widgets ]]; then
    echo "the QtWidgets headers were not found: cannot tell widgets apart" >&2
    exit 2
fi

git grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' -- '*.h' '*.cpp' |
    awk -F: -v widgets="$widgets" '
    BEGIN {
        n = split("app ui search controller device interface log platform", names, " ")
        for (i = 1; i <= n; i++) rank[names[i]] = i
        while ((getline w < widgets) > 0) widget[w] = 1
    }
    function layer(path,    top) {
        if (("/" path) ~ /\/ui\//) return rank["ui"]
        top = path
        sub(/\/.*/, "", top)
        return (top in rank && path ~ /\//) ? rank[top] : 0
    }
    {
        file = $1; line = $2
        own = layer(file)
        if (own == 0) next
        header = $0
        sub(/^[^:]*:[^:]*:[[:space:]]*#[[:space:]]*include[[:space:]]*/, "", header)
        quoted = substr(header, 1, 1) == "\""
        name = substr(header, 2)
        sub(/[>"].*$/, "", name)
        if (quoted) {
            target = layer(name)
            if (target > 0 && target < own) {
                print file ":" line ": includes " name ", a header of a higher layer"
                bad++
            }
        } else if (own > rank["ui"]) {
            sub(/^QtWidgets\//, "", name)
            if (name in widget) {
                print file ":" line ": includes <" name ">: widgets belong under ui/"
                bad++
            }
        }
    }
    END {
        if (bad) {
            print bad " include(s) break the layering" > "/dev/stderr"
            exit 1
        }
        print "layering holds"
    }'
