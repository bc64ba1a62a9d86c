#!/bin/bash
# The guest's own start (process 1 after the initramfs), read from the
# exchange share that vm.sh fills: mounts what programs need, then, by the
# share's "mode", either makes the Wine prefix once for the image
# (provision) or runs the programs queued by vm.sh run until switched off
# (serve).
set -euo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root WINEDEBUG=-all
export WINEPREFIX=/root/.wine
# Console programs need neither the .NET nor the HTML engine, whose
# installers Wine would otherwise try to fetch.
export WINEDLLOVERRIDES="mscoree,mshtml="
readonly exchange=/exchange

# Process 1 must not end: the machine is switched off instead, which ends QEMU.
power_off() {
  sync
  echo o >/proc/sysrq-trigger
  sleep 60
}
trap power_off EXIT

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts -o ptmxmode=0666 devpts /dev/pts
for scratch in /dev/shm /tmp /run; do
  mount -t tmpfs tmpfs "$scratch"
done

# One queued program: its arguments, working directory and standard input
# are in the request directory, its output and status go there. A Windows
# program runs under Wine.
serve_request() {
  local request=$1
  local -a argv
  mapfile -d '' -t argv <"$request/argv"
  # Wine reads a program's sections from its file in a way that a 9p share
  # does not serve reliably (large programs run into zeroed pages), so each
  # Windows program named in the command runs from a copy in memory.
  local copies=/tmp/programs/${request##*/} i
  for i in "${!argv[@]}"; do
    if [[ ${argv[$i]} == *.exe && -f ${argv[$i]} ]]; then
      mkdir -p "$copies"
      cp "${argv[$i]}" "$copies/"
      argv[$i]=$copies/${argv[$i]##*/}
    fi
  done
  if [[ ${argv[0]} == *.exe ]]; then
    argv=(wine "${argv[@]}")
  fi
  local -a environment
  mapfile -d '' -t environment <"$request/environment"
  local status=0
  (cd "$(<"$request/cwd")" && exec env "${environment[@]}" "${argv[@]}") <"$request/stdin" \
    >"$request/stdout" 2>"$request/stderr" || status=$?
  rm -rf "$copies"
  echo "$status" >"$request/status.new"
  mv "$request/status.new" "$request/status"
}

serve() {
  local tag path
  # Wine maps the programs' files into memory, which a 9p share supports in
  # its "mmap" cache mode; each test run boots afresh, so nothing is stale.
  while read -r tag path; do
    mkdir -p "$path"
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=mmap "$tag" "$path"
  done <"$exchange/shares"
  # A Wine server kept running spares each program its start-up, and no
  # program meets one on its way out, which fails it ("Connection reset by
  # peer"). The first program starts Wine's background programs here, away
  # from the programs' outputs and terminals.
  wineserver -p
  wine cmd.exe /c exit
  touch "$exchange/ready"
  local request
  for (( ; ; )); do
    for request in "$exchange"/queue/*.req; do
      [[ -d $request ]] || continue
      mv "$request" "${request%.req}.run"
      serve_request "${request%.req}.run" &
    done
    sleep 0.05
  done
}

case $(<"$exchange/mode") in
provision)
  wineboot --init
  wineserver -w
  touch "$exchange/provisioned"
  ;;
serve) serve ;;
esac
