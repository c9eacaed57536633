#!/usr/bin/env bash
# Seeds one plausible fault at a time into the code, builds, runs the suite
# and lists the tests that catch it: a suite that stays green with a fault
# in has lost its reach there. Each fault replaces one exact piece of text,
# found once; the file is put back afterwards.
#   scripts/seed-faults.sh [BUILD_DIR] [FAULT...]   (default: build, every fault)
# Needs a configured build with -DTAVRIN_BUILD_TESTS=ON. A fault makes many
# tests wait out their bounds, idle: ctest runs SEED_JOBS (6) at once, each
# stopped after SEED_TIMEOUT (120) s; CTEST_ARGS adds to its options, split at
# spaces, no quotes inside (CTEST_ARGS='-L runtime|tool': those folders' tests).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true

# name @ file @ text @ replacement (\n: a line break)
faults=$(cat <<'EOF'
sum-check@driver/protocol/frame_codec.cpp@return static_cast<quint8>(sum & 0xFF);@return static_cast<quint8>((sum + 1) & 0xFF);
d-base@driver/registers/register_types.h@"7999",    0x1000,@"7999",    0x1002,
force-address@driver/protocol/frame_codec.cpp@putHexByte(out + 2, static_cast<quint8>(address & 0xFF));@putHexByte(out + 2, static_cast<quint8>(address >> 8));
nak-as-ack@driver/protocol/reply_check.cpp@reply.at(0) == Fx::ACK ? FrameCheck::Ack@reply.at(0) != Fx::STX ? FrameCheck::Ack
word-order@driver/image/reply_decoders.cpp@byteAtChars(reply, index) | byteAtChars(reply, index + 2) << 8@byteAtChars(reply, index) << 8 | byteAtChars(reply, index + 2)
write-burst@driver/core/request_cycle.cpp@WriteRun <= LastRunBeforeTurn@WriteRun < LastRunBeforeTurn
retry-limit@driver/core/request_cycle.cpp@> ComInfo.get(ComInfoWord::RetryLimit)@>= ComInfo.get(ComInfoWord::RetryLimit)
write-list-limit@driver/core/variable_lists.cpp@WriteVarList.size() < PendingListLimit@WriteVarList.size() <= PendingListLimit
dbit-bit@driver/protocol/write_requests.cpp@const int bit = writeItem.Addr % 16;@const int bit = writeItem.Addr % 8;
retry-budget@runtime/line_core.cpp@        setComInfoWord(comInfo_, ComInfoWord::RetryCount, 0);\n        pace_.answered@        pace_.answered
nak-out-of-step@runtime/line_core.cpp@            phase_ = Phase::InStep; // a NAK@            leaveStep(nowUs); // a NAK
pairing-shared-shape@runtime/reply_pairing.cpp@sent_.size() == 1 : candidates == 1;@sent_.size() == 1 : candidates >= 1;
pace-learning@runtime/line_pace.cpp@slowestUs_ * 3 / 2 + 999) / 1000 + 20;@slowestUs_ + 999) / 1000 + 20;
dbit-span@runtime/polled_quality.cpp@variable.registers - 1) / 16 + 1;@variable.registers - 1) / 16;
planner-limit@runtime/read_planner.cpp@if (cells > largestBlock ||@if (cells > largestBlock + 1 ||
modbus-table@gateway/modbus_map.cpp@if (it->table != table || address < it->first@if (address < it->first
set-key-twice@gateway/json_payloads.cpp@if (!twice.isNull()) {@if (false && !twice.isNull()) {
retained-set@gateway/mqtt_face.cpp@    if (retained) {@    if (false && retained) {
utilisation-cap@gateway/model_json.cpp@return std::min(statistics.utilisation(), 1.0);@return statistics.utilisation();
config-key-twice@gateway/config_reader.cpp@} else if (seenOnLine.contains(name)) {@} else if (false && seenOnLine.contains(name)) {
history-age-cutoff@gateway/history_store.cpp@old.bind(1, low);@old.bind(1, low + 1);
history-bucket-time@gateway/history_query.cpp@utcAt(request.fromMs + span * b / count)@utcAt(request.fromMs + span * (b + 1) / count)
json-bit-range@runtime/value_json.cpp@if (whole && (number == 0 || number == 1))@if (whole && number >= 0)
poll-period-min@runtime/poll_period.cpp@value < MinPollPeriodMs || @
untimed-share@runtime/poll_schedule.cpp@capacity_ = untimed ? 1.0 - UntimedShare : 1.0;@capacity_ = 1.0;
watch-count@tool/watch_command.cpp@QStringLiteral("count"), 1, 1000000@QStringLiteral("count"), 0, 1000000
sim-input-writable@sim/device_map.cpp@0x009F, E::Bits,        false}@0x009F, E::Bits,        true}
modbus-half-write@gateway/modbus_face.cpp@span.first % perValue != 0 || span.count % perValue != 0)@span.first % perValue != 0)
spb-seq-rebirth@gateway/sparkplug_face.cpp@seq_ = 0;\n    Payload payload = ndeath();@Payload payload = ndeath();
forward-order@gateway/history_store.cpp@ORDER BY c.id LIMIT ?");@ORDER BY c.id DESC LIMIT ?");
EOF
)

wanted=" $* "
summary=""
while IFS='@' read -r name file text replacement; do
    [[ $# -gt 0 && $wanted != *" $name "* ]] && continue
    cp "$file" "$file.seed-orig"
    if ! FAULT_TEXT="$text" FAULT_NEW="$replacement" perl -0pi -e '
        BEGIN { ($t, $n) = map { s/\\(.)/$1 eq "n" ? "\n" : $1/ger } @ENV{qw(FAULT_TEXT FAULT_NEW)}; }
        $c = () = /\Q$t\E/g; die "found $c times\n" if $c != 1; s/\Q$t\E/$n/;' "$file"; then
        echo "$name: the text to replace is not in $file once"; mv "$file.seed-orig" "$file"; exit 2
    fi
    if ! cmake --build "$build" -j2 >"$build/seed-$name.log" 2>&1; then
        caught="(does not build)"
    else
        ctest --test-dir "$build" -j "${SEED_JOBS:-6}" --timeout "${SEED_TIMEOUT:-120}" ${CTEST_ARGS:-} >>"$build/seed-$name.log" 2>&1
        caught=$(sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \([A-Za-z ]+\)$/\1/p' "$build/seed-$name.log" | tr '\n' ' ')
    fi
    mv "$file.seed-orig" "$file"
    touch "$file" # newer than the objects built with the fault
    echo "$name: ${caught:-NOT CAUGHT}"
    summary+="$name: $(wc -w <<<"$caught") tests"$'\n'
done <<<"$faults"
cmake --build "$build" -j2 >/dev/null 2>&1 || echo "the build without faults failed"
printf '%s' "$summary"
[[ $summary != *": 0 tests"* ]]
