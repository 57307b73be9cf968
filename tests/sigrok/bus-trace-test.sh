#!/usr/bin/env bash
# The EEPROM bus as sigrok sees it: corvane-cli writes and reads the virtual decoder's EEPROM
# with --bus-trace, and sigrok-cli's I2C decoder (and, for the part with two address bytes,
# its 24xx EEPROM decoder) must find exactly the file's bytes on SCL and SDA.
#
# Usage: bus-trace-test.sh CORVANE_CLI WORK_DIR
set -euo pipefail

cli=$(realpath "$1")
work=$(mkdir -p "$2" && realpath "$2")
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is missing (scripts/deps.sh installs it)" >&2; exit 1; }
rm -rf "${work:?}"/*
cd "$work"

failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

hexdump1() { od -An -v -tx1 "$1" | tr -s ' \n' '\n\n' | sed '/^$/d'; }

# The I2C decoder's transactions as the EEPROM's contents: one hex byte per line for each
# address up to size, "--" where the trace never touched it. A write is a transaction whose
# address byte was acknowledged and whose data goes past the word address; reads count from
# the word address a dummy write set (or where the last access ended).
decode_i2c() {  # VCD SIZE ADDRESS_BYTES WRITES|READS
  sigrok-cli -I vcd -i "$1" -P i2c:scl=SCL:sda=SDA \
    -A i2c=start:repeat-start:stop:address-read:address-write:data-read:data-write:ack:nack |
    awk -v size="$2" -v wide="$3" -v want="$4" '
      function hex(s) { return index("0123456789ABCDEF", substr(s, 1, 1)) * 16 - 16 + \
                               index("0123456789ABCDEF", substr(s, 2, 1)) - 1 }
      function word() { return wide == 2 ? w[0] * 256 + w[1] : (dev % 8) * 256 + w[0] }
      function begin() { n = 0; reading = 0; void = 0; expectAck = 0 }
      BEGIN { begin(); ptr = 0 }
      { sub(/^i2c-1: /, "") }
      /^Start repeat/ { if (!void && n >= wide) ptr = word(); n = 0; expectAck = 0; next }
      /^Start/ { begin(); next }
      /^Address write: / { dev = hex($3); expectAck = 1; next }
      /^Address read: / { reading = 1; expectAck = 1; next }
      /^NACK/ { if (expectAck) void = 1; expectAck = 0; next }
      /^ACK/ { expectAck = 0; next }
      /^Data write: / { w[n++] = hex($3); next }
      /^Data read: / { if (!void && want == "READS") mem[ptr % size] = $3; ptr++; next }
      /^Stop/ {
        if (!void && !reading && n > wide) {
          ptr = word()
          for (i = wide; i < n; i++) { if (want == "WRITES") mem[ptr % size] = sprintf("%02X", w[i]); ptr++ }
        }
        begin(); next
      }
      END { for (a = 0; a < size; a++) print (a in mem) ? tolower(mem[a]) : "--" }'
}

# The 24xx decoder's own account: "Page write (addr=0020, 32 bytes): AB 8B ..." and
# "Sequential random read (addr=0000, 8192 bytes): ...".
decode_24xx() {  # VCD SIZE CHIP
  sigrok-cli -I vcd -i "$1" -P "i2c:scl=SCL:sda=SDA,eeprom24xx:chip=$3" -A eeprom24xx=ops |
    awk -v size="$2" '
      /(Page write|Byte write|Sequential random read) \(addr=/ {
        match($0, /addr=[0-9A-Fa-f]+/); a = 0
        s = substr($0, RSTART + 5, RLENGTH - 5)
        for (i = 1; i <= length(s); i++) a = a * 16 + index("0123456789ABCDEF", toupper(substr(s, i, 1))) - 1
        split(substr($0, index($0, "): ") + 3), b, " ")
        for (i = 1; i in b; i++) { mem[(a + i - 1) % size] = tolower(b[i]) }
        ops++
      }
      END { for (x = 0; x < size; x++) print (x in mem) ? mem[x] : "--"; print "ops " ops > "/dev/stderr" }'
}

# model  size  address-bytes  24xx chip (empty: the decoder has no part with block bits)
while read -r model size wide chip; do
  mkdir -p "$model"
  # Every byte value, in an order that is not the address.
  printf "$(awk -v n="$size" 'BEGIN { for (i = 0; i < n; i++) printf "\\%03o", (i * 73 + int(i / 256) * 11 + 5) % 256 }')" \
    >"$model/in.bin"
  [ "$(stat -c %s "$model/in.bin")" = "$size" ] || fail "$model: test input is not $size bytes"
  "$cli" --simulate sim --model "$model" --quiet --bus-trace "$model/write.vcd" write-eeprom "$model/in.bin" >/dev/null
  "$cli" --simulate sim --model "$model" --quiet --bus-trace "$model/read.vcd" read-eeprom "$model/out.bin" >/dev/null
  cmp -s "$model/in.bin" "$model/out.bin" || fail "$model: the tool read back other bytes than it wrote"
  hexdump1 "$model/in.bin" >"$model/expected.txt"

  decode_i2c "$model/write.vcd" "$size" "$wide" WRITES >"$model/i2c-writes.txt"
  decode_i2c "$model/read.vcd" "$size" "$wide" READS >"$model/i2c-reads.txt"
  for f in i2c-writes i2c-reads; do
    if cmp -s "$model/expected.txt" "$model/$f.txt"; then
      echo "PASS $model: sigrok's I2C decoder finds the file's $size bytes in the $f trace"
    else
      fail "$model: $f differ from the file: $(diff "$model/expected.txt" "$model/$f.txt" | head -n 4 | tr '\n' ' ')"
    fi
  done
  if [ -n "$chip" ]; then
    for trace in write read; do
      decode_24xx "$model/$trace.vcd" "$size" "$chip" >"$model/24xx-$trace.txt" 2>"$model/24xx-$trace.ops"
      if cmp -s "$model/expected.txt" "$model/24xx-$trace.txt"; then
        echo "PASS $model: sigrok's 24xx decoder ($chip) finds the file in the $trace trace ($(cat "$model/24xx-$trace.ops"))"
      else
        fail "$model: 24xx $trace differs from the file"
      fi
    done
  fi
done <<'EOF'
BCT13 2048 1
TS1 8192 2 microchip_24lc64
EOF

[ "$failures" -eq 0 ] || exit 1
