#!/usr/bin/env bash
# Deliberate faults in the product code, applied one at a time: the test suite must fail for each.
# A fault that survives names a place the tests do not watch. Run by hand, not in CI.
#
#   mutants.sh            every mutant (after checking that the suite passes without one)
#   mutants.sh N [N...]   only the mutants numbered N
#   mutants.sh --list     the numbered list
#
# Builds in build/mutants (MUTANTS_BUILD_DIR). MUTANTS_TESTS=REGEX runs only the matching tests;
# MUTANTS_TIMEOUT (default 300) bounds each test in seconds, so a fault that hangs a test still ends.
# MERVIK_BUILD_LOCK=FILE holds that lock (flock) around each build and each test run only, so that
# other builds on a shared machine can run in between.
# Exit status: 0 every mutant caught, 1 some survived, 2 usage or a mutant that no longer applies.
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${MUTANTS_BUILD_DIR:-$src/build/mutants}")
timeout=${MUTANTS_TIMEOUT:-300}

# Each mutant: what it breaks, the file, one exact line fragment of it (which must occur exactly
# once, so the list fails loudly when the code moves) and its replacement.
notes=() files=() originals=() replacements=()
mutant() {
    notes+=("$1")
    files+=("$2")
    originals+=("$3")
    replacements+=("$4")
}

mutant "receive path: a framed line loses its line feed" device/cdevice.cpp \
    'processLine(lines.mid(start, end + 1 - start));' \
    'processLine(lines.mid(start, end - start));'
mutant "receive buffer: cap at twice the limit" device/cdevice.cpp \
    'if (receiveBuffer.size() > MaxReceiveBuffer) {' \
    'if (receiveBuffer.size() > 2 * MaxReceiveBuffer) {'
mutant "connection check: probes wait the echo time-out, not the check time-out" device/cdevice.cpp \
    'if (sendAndRead(echoCommand, nullptr, 1, CheckTimeoutMs, CheckAttempts) == COMMAND_TIMEOUT) {' \
    'if (sendAndRead(echoCommand, nullptr, 1, EchoTimeoutMs, CheckAttempts) == COMMAND_TIMEOUT) {'
mutant "busy flag: busyChanged not emitted" device/cdevice.cpp \
    'emit busyChanged(busy);' \
    '// busyChanged dropped'
mutant "reachability: local-subnet check reversed (computer connects)" device/cdevice.cpp \
    'if (!module->isInLocalSubnet()) {' \
    'if (module->isInLocalSubnet()) {'
mutant "stable result: stability letter U instead of S" device/cdevice_weighing.cpp \
    "m.stability = 'S';" \
    "m.stability = 'U';"
mutant "result line: the minus sign ignored" device/cdevice_weighing.cpp \
    "if (sign == QLatin1Char('-')) {" \
    "if (sign == QLatin1Char('+')) {"
mutant "older instrument: identity split on LF instead of CR LF" device/cdeviceold.cpp \
    'const QStringList pieces = identity.split(QStringLiteral("\r\n"));' \
    'const QStringList pieces = identity.split(QStringLiteral("\n"));'
mutant "search: first baud rate 19200 instead of 9600" device/cmervikmanagerfactory.cpp \
    'm_baudRates = {9600, 115200};' \
    'm_baudRates = {19200, 115200};'
mutant "module MAC: groups not padded to two hex digits" interface/cinterfacemodule.cpp \
    "result += QByteArray::number(value, 16).rightJustified(2, '0');" \
    'result += QByteArray::number(value, 16);'
mutant "servers pool: a served MAC stays awaited" interface/cserverspool.cpp \
    'awaitedMacs.removeAt(index);' \
    '// served MAC kept'
mutant "tibbo module: speed table has 4800 and 9600 swapped" interface/ctibbo.cpp \
    'static const QList<int> table = {1200,  2400,   4800, 9600,' \
    'static const QList<int> table = {1200,  2400,   9600, 4800,'
mutant "serial port: a flood of read errors does not close a vanished port" interface/crs232.cpp \
    'if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) {' \
    'if (error != QSerialPort::ResourceError) {'
mutant "log filter: quotes in the text not doubled" ui/log/abstractfilter.cpp \
    "return out.replace(QLatin1Char('\\''), QStringLiteral(\"''\"));" \
    'return out;'
mutant "log store: every line of a record gets the same LineId" log/cpelmlog.cpp \
    '++lineId;' \
    '// LineId not advanced'
mutant "data feed: insert binds neighbouring fields swapped" log/datafeedtablemodel.cpp \
    'insert.addBindValue(text(fields.value(i)));' \
    'insert.addBindValue(text(fields.value(i ^ 1)));'
mutant "log export: columns written in reverse order" ui/log/pelmlogview.cpp \
    'text += ExportField::quoted(m_model->index(row, column).data().toString(), separator, lineEnd);' \
    'text += ExportField::quoted(m_model->index(row, columns - column).data().toString(), separator, lineEnd);'
mutant "exports: quotes inside a quoted field not doubled" log/exportfield.cpp \
    "out.replace(QLatin1Char('\"'), QStringLiteral(\"\\\"\\\"\"));" \
    '// quotes kept single'
mutant "keystrokes: CR CR typed as one line break" ui/capture/cursorpaste.cpp \
    'if (lastBreak == Break::None || lastBreak == kind) {' \
    'if (lastBreak == Break::None) {'
mutant "settings elements: spin value not clamped to the widget's range" ui/settings/spinelement.cpp \
    'value = widget->value();' \
    '// value not clamped'
mutant "settings: comma delimiter wins over none" ui/settings/settingscontroller.cpp \
    'if (comma && !none) {' \
    'if (comma) {'
mutant "capture export: shown columns written in reverse order" ui/capture/applicationcontroller.cpp \
    'model->index(row, shown.at(i)).data(Qt::DisplayRole).toString();' \
    'model->index(row, shown.at(shown.size() - 1 - i)).data(Qt::DisplayRole).toString();'
mutant "balance controller: result with stability not announced" controller/cbalancecontroller.cpp \
    'emit anyResultReceived(response.value<Measurement>());' \
    '// anyResultReceived dropped'
mutant "neighbour table: complete flag check reversed" platform/procarpresolver.cpp \
    'if (!ok || (flags & 0x2) == 0) {' \
    'if (!ok || (flags & 0x2) != 0) {'
mutant "terminal page: command line sent with LF instead of CR LF" ui/requestnotice.cpp \
    'sendString(command + QStringLiteral("\r\n"));' \
    'sendString(command + QStringLiteral("\n"));'
mutant "IP address cells: 256 to 259 accepted" ui/pelmitems.cpp \
    '2[0-4][0-9]|25[0-5]' \
    '2[0-5][0-9]|25[0-5]'
mutant "start-up connection: default baud rate 19200 instead of 9600" app/startupconnecter.h \
    'int baud = 9600;' \
    'int baud = 19200;'
mutant "mervik-cli: no answer and wrong answer exit codes swapped" tools/cli/main.cpp \
    'return result == COMMAND_TIMEOUT ? InstrumentSession::ExitNoAnswer : InstrumentSession::ExitBadAnswer;' \
    'return result == COMMAND_TIMEOUT ? InstrumentSession::ExitBadAnswer : InstrumentSession::ExitNoAnswer;'
mutant "mervik-cli: --interval ignored between requests" tools/cli/main.cpp \
    'requestTimer.start(intervalMs);' \
    'requestTimer.start(0);'
mutant "repair cycle: a Tibbo module not restarted for its new settings" search/searchcontroller.cpp \
    'queueCall(module, [module] { module->reboot(); });' \
    'module->readInfo(1);'
mutant "capture: each result stored twice" controller/capturecore.cpp \
    'const QVector<qint64> counts = m_model->appendRows(rows);' \
    'const QVector<qint64> counts = (m_model->appendRows(rows), m_model->appendRows(rows));'
mutant "capture: results dropped" controller/capturecore.cpp \
    'm_pending.push_back({rowFields(m, QDateTime::currentDateTime()), m});' \
    'Q_UNUSED(m);'
mutant "capture: a result stamped with the current instrument, not its sender" controller/cbalancecontroller.cpp \
    'void CBalanceController::onResultReceived(Measurement m)
{' \
    'void CBalanceController::onResultReceived(Measurement m)
{
    m.serialNumber = currentDevice() ? currentDevice()->serialNumber().simplified() : QString();'

count=${#notes[@]}

# Whether mutant i (from 0) still finds its original text exactly once.
applies() {
    python3 -c 'import sys; t = open(sys.argv[1], encoding="utf-8").read(); sys.exit(t.count(sys.argv[2]) != 1)' \
        "$src/${files[$1]}" "${originals[$1]}"
}

if [ "${1:-}" = "--list" ]; then
    for ((i = 0; i < count; ++i)); do
        stale=""
        applies "$i" || stale="  (STALE: original text not found once)"
        printf '%2d  %-36s %s%s\n' $((i + 1)) "${files[i]}" "${notes[i]}" "$stale"
    done
    exit 0
fi

selected=()
if [ $# -eq 0 ]; then
    for ((i = 1; i <= count; ++i)); do selected+=("$i"); done
else
    for n in "$@"; do
        if ! [[ "$n" =~ ^[0-9]+$ ]] || [ "$n" -lt 1 ] || [ "$n" -gt "$count" ]; then
            echo "usage: $0 [--list | N...] (N from 1 to $count)" >&2
            exit 2
        fi
        selected+=("$n")
    done
fi

# shellcheck source=buildlock.sh
. "$src/scripts/buildlock.sh"

# The pristine copy of the file being mutated, and its path in the tree. A run that was killed
# outright leaves both behind; the next run puts the file back before anything else.
mkdir -p "$build"
backup="$build/mutant.orig"
backupPath="$build/mutant.path"
restore() {
    if [ -f "$backupPath" ]; then
        cp "$backup" "$src/$(cat "$backupPath")"
        rm -f "$backup" "$backupPath"
    fi
}
trap restore EXIT
trap 'exit 130' INT TERM
restore

# Replaces the one occurrence of the original text; refuses when it is missing or not unique.
apply() {
    python3 - "$src/$1" "$2" "$3" <<'EOF'
import sys
path, original, replacement = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
found = text.count(original)
if found != 1:
    sys.exit(f"mutants: {path}: the original text occurs {found} times, not once: {original}")
open(path, "w", encoding="utf-8").write(text.replace(original, replacement))
EOF
}

# Every anchor is checked before the first build, so a stale list fails in seconds.
for n in "${selected[@]}"; do
    i=$((n - 1))
    applies "$i" || { echo "mutants: mutant $n no longer applies: ${files[i]}: ${originals[i]}" >&2; exit 2; }
done

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi

# Builds everything and runs the suite; the log goes to $1. Status 0: every test passed.
run_suite() {
    local log=$1
    locked cmake --build "$build" -j 2 >"$log" 2>&1 || return 10
    (cd "$build" && locked ctest -j 2 --stop-on-failure --timeout "$timeout" --output-on-failure \
        ${MUTANTS_TESTS:+-R "$MUTANTS_TESTS"}) >>"$log" 2>&1
}

failed_tests() {
    sed -n '/The following tests FAILED:/,$ s/^[[:space:]]*[0-9][0-9]* - \([^ ]*\) (.*/\1/p' "$1" |
        sort -u | paste -sd ' ' -
}

# Without a mutant the suite must pass, or every mutant would look caught.
if [ $# -eq 0 ]; then
    start=$SECONDS
    if ! run_suite "$build/mutant-0.log"; then
        echo "mutants: the suite fails without any mutant (see $build/mutant-0.log): $(failed_tests "$build/mutant-0.log")" >&2
        exit 2
    fi
    echo "mutants: the suite passes without a mutant ($((SECONDS - start)) s)"
fi

caught=0
survived=0
for n in "${selected[@]}"; do
    i=$((n - 1))
    log="$build/mutant-$n.log"
    cp "$src/${files[i]}" "$backup"
    echo "${files[i]}" >"$backupPath"
    apply "${files[i]}" "${originals[i]}" "${replacements[i]}"
    start=$SECONDS
    status=0
    run_suite "$log" || status=$?
    restore
    took=$((SECONDS - start))
    if [ "$status" -eq 10 ]; then
        echo "mutants: mutant $n does not build (see $log)" >&2
        exit 2
    elif [ "$status" -ne 0 ]; then
        caught=$((caught + 1))
        printf '%2d caught    %4d s  %s  [%s]\n' "$n" "$took" "${notes[i]}" "$(failed_tests "$log")"
    else
        survived=$((survived + 1))
        printf '%2d SURVIVED  %4d s  %s (%s)\n' "$n" "$took" "${notes[i]}" "${files[i]}"
    fi
done

echo "mutants: $caught caught, $survived survived"
[ "$survived" -eq 0 ]
