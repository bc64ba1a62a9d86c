#!/usr/bin/env bash
# A virtual x86 PC (QEMU, full emulation) that runs the 32-bit programs this
# machine's kernel cannot: a Debian image with 32-bit Wine and the i386 C++
# runtime, started once per test run and handed one program after another.
#
#   vm.sh image DIR                    make the image, kernel and Wine prefix in
#                                      DIR (once; a finished DIR is kept)
#   vm.sh start DIR SESSION CPU PATH...
#                                      boot DIR's machine for a test run with the
#                                      host directories PATH... at the same paths
#   vm.sh run SESSION PROGRAM [ARG...]
#                                      run PROGRAM there (a .exe under Wine) and
#                                      end with its status and output
#   vm.sh stop SESSION                 switch the machine off
#
# SESSION is a host directory of the test run's own. Programs reach the guest
# and their results come back through it, shared into the guest by 9p: a
# request is a directory with the program's arguments, working directory,
# standard input and the project's environment variables (AES_*, EXAMPLE4*),
# answered by its output files and exit status.
set -euo pipefail
readonly here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# What the image holds: 32-bit Wine for the Windows programs, the i386 C and
# C++ runtimes for the Linux ones, and the kernel whose drivers the initramfs
# loads (virtio disk and 9p shares, ext4).
readonly packages=mount,wine,wine32,libstdc++6:i386,python3,linux-image-amd64
# Taken from the release alone: a test machine needs no security or stable
# updates, and their indexes change daily, so that a mirror caught mid-sync
# (an index whose size the release file does not give) failed the image.
# The release's own indexes change only at point releases; a failed attempt
# is tried again after a pause all the same.
readonly mirror=http://deb.debian.org/debian
readonly image_attempts=3
readonly image_retry_pause=60
readonly modules=(virtio_pci virtio_blk 9pnet_virtio 9p crc32c_generic ext4)
# Full emulation is slow enough that a boot takes seconds and a Wine start
# several; these limits are far beyond both.
readonly boot_limit=600
readonly guest_memory=2048

die() {
  echo "vm.sh: $*" >&2
  exit 1
}

# Sets qemu_command to the command that boots boot DIR's machine with the exchange share and the
# given CPU model; the caller appends the disk and the rest.
set_qemu_command() {
  local dir=$1 exchange=$2 cpu=$3
  # No KVM: a guest nested in this machine's virtualisation hangs at boot.
  # The guest powers off when done, and a kernel panic reboots, which ends QEMU.
  qemu_command=(qemu-system-x86_64 -accel tcg -cpu "$cpu" -smp 2 -m "$guest_memory" -nodefaults
    -display none -no-reboot -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img"
    -append "console=ttyS0 quiet panic=-1"
    -virtfs "local,path=$exchange,mount_tag=exchange,security_model=none")
}

# The initramfs: busybox, the drivers and init, packed without root rights.
make_initramfs() {
  local dir=$1 tree
  tree=$(mktemp -d)
  mkdir -p "$tree/bin" "$tree/modules"
  cp /bin/busybox "$tree/bin/busybox"
  cp "$dir/modules/"*.ko "$dir/modules.load" "$tree/modules/"
  mv "$tree/modules/modules.load" "$tree/modules.load"
  cp "$here/init" "$tree/init"
  chmod 755 "$tree/init"
  (cd "$tree" && find . | busybox cpio -o -H newc --quiet | gzip -1) >"$dir/initrd.img.new"
  mv "$dir/initrd.img.new" "$dir/initrd.img"
  rm -rf "$tree"
}

# Copies the wanted kernel modules out of the image's tree, each after the
# modules it needs (modules.dep lists a module's whole dependency closure,
# with what it needs last).
extract_modules() {
  local rootfs=$1 dir=$2
  local kernel_dir
  kernel_dir=$(echo "$rootfs"/lib/modules/*)
  mkdir -p "$dir/modules"
  : >"$dir/modules.load"
  local module line path dependency
  local -A loaded=()
  for module in "${modules[@]}"; do
    line=$(grep -E "/${module//_/[_-]}\.ko:" "$kernel_dir/modules.dep") ||
      die "no kernel module $module"
    local order=()
    for path in ${line#*:}; do
      order=("$path" "${order[@]}")
    done
    order+=("${line%%:*}")
    for dependency in "${order[@]}"; do
      [[ -n ${loaded[$dependency]:-} ]] && continue
      loaded[$dependency]=1
      cp "$kernel_dir/$dependency" "$dir/modules/"
      basename "$dependency" >>"$dir/modules.load"
    done
  done
}

# The Debian file system as an ext4 image, with the kernel and the initramfs
# beside it.
make_root_image() {
  local dir=$1
  rm -rf "$dir/rootfs" "$dir/modules"
  echo "vm.sh: installing $packages into a Debian image (a few minutes, once)"
  local attempt
  for ((attempt = 1; ; attempt++)); do
    mmdebstrap --variant=apt --architectures=amd64,i386 \
      --aptopt='APT::Install-Recommends "false"' --aptopt='Acquire::Retries "3"' \
      --include="$packages" bookworm "$dir/rootfs" "$mirror" >"$dir/mmdebstrap.log" 2>&1 && break
    grep -v '^I: ' "$dir/mmdebstrap.log" | tail -n 20 >&2
    ((attempt < image_attempts)) || die "mmdebstrap failed $attempt times"
    echo "vm.sh: mmdebstrap failed; trying again in $image_retry_pause s" >&2
    rm -rf "$dir/rootfs"
    sleep "$image_retry_pause"
  done
  cp "$dir"/rootfs/boot/vmlinuz-* "$dir/vmlinuz"
  extract_modules "$dir/rootfs" "$dir"
  make_initramfs "$dir"
  # The kernel and its modules now live outside the image.
  rm -rf "$dir"/rootfs/boot/* "$dir"/rootfs/lib/modules
  local size_mb
  size_mb=$(($(du -sm "$dir/rootfs" | cut -f1) * 5 / 4 + 512))
  mkfs.ext4 -q -F -L example4 -d "$dir/rootfs" "$dir/root.img.new" "${size_mb}M"
  rm -rf "$dir/rootfs"
}

# Boots the new image once, writable, for the guest to make the Wine prefix.
provision() {
  local dir=$1
  echo "vm.sh: making the Wine prefix in the guest (a minute or two, once)"
  local exchange=$dir/exchange
  rm -rf "$exchange"
  mkdir -p "$exchange"
  cp "$here/guest.sh" "$exchange/"
  echo provision >"$exchange/mode"
  set_qemu_command "$dir" "$exchange" Westmere
  timeout "$boot_limit" "${qemu_command[@]}" -serial "file:$dir/provision.log" \
    -drive "file=$dir/root.img.new,format=raw,if=virtio" || true
  [[ -f $exchange/provisioned ]] ||
    { tail -n 30 "$dir/provision.log" >&2; die "the guest did not make the Wine prefix"; }
  rm -rf "$exchange"
}

image() {
  local dir=$1
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  exec 9>"$dir/lock"
  flock 9
  # A change to what the image is made of makes a new one; a failed Wine
  # prefix is tried again on the same file system.
  local recipe
  recipe=$(printf '%s\n' "$packages" "${modules[@]}" | sha256sum)
  if [[ -f $dir/ready && $(<"$dir/ready") == "$recipe" ]]; then
    [[ $dir/initrd.img -nt $here/init ]] || make_initramfs "$dir"
    return
  fi
  rm -f "$dir/ready" "$dir/root.img"
  if [[ ! -f $dir/root.img.recipe || $(<"$dir/root.img.recipe") != "$recipe" ]]; then
    make_root_image "$dir"
    echo "$recipe" >"$dir/root.img.recipe"
  fi
  make_initramfs "$dir"
  provision "$dir"
  mv "$dir/root.img.new" "$dir/root.img"
  rm "$dir/root.img.recipe"
  echo "$recipe" >"$dir/ready"
}

# The QEMU process of a session, if it is still running.
session_pid() {
  local session=$1 pid
  [[ -f $session/qemu.pid ]] || return 1
  pid=$(<"$session/qemu.pid")
  [[ -d /proc/$pid ]] && grep -qaF "$session/exchange" "/proc/$pid/cmdline" 2>/dev/null &&
    echo "$pid"
}

# Returns once the machine is gone, as start reuses the session's exchange
# directory at once. The machine may end by itself at any point here; an
# ended QEMU that nobody has reaped yet still has its /proc entry, but no
# command line, which session_pid looks at.
stop() {
  local session=$1 pid
  pid=$(session_pid "$session") || return 0
  kill "$pid" 2>/dev/null || return 0
  local waited
  for ((waited = 0; waited < 100; ++waited)); do
    session_pid "$session" >/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || return 0
  for ((waited = 0; waited < 100; ++waited)); do
    session_pid "$session" >/dev/null || return 0
    sleep 0.1
  done
  die "the virtual machine of $session did not end"
}

start() {
  local dir=$1 session=$2 cpu=$3
  shift 3
  [[ -f $dir/ready ]] || die "no finished machine in $dir (vm.sh image $dir)"
  mkdir -p "$session"
  session=$(cd "$session" && pwd)
  stop "$session"
  local exchange=$session/exchange
  rm -rf "$exchange"
  mkdir -p "$exchange/queue"
  cp "$here/guest.sh" "$exchange/"
  echo serve >"$exchange/mode"
  local shares=() tag=0 path
  : >"$exchange/shares"
  for path in "$@"; do
    path=$(cd "$path" && pwd)
    shares+=(-virtfs "local,path=$path,mount_tag=share$tag,security_model=none")
    printf 'share%s %s\n' "$tag" "$path" >>"$exchange/shares"
    tag=$((tag + 1))
  done
  # The image stays as it was made: the guest's writes go to a temporary overlay.
  # A build remaking the image holds its lock: the machine boots from a
  # finished one, which QEMU has open by the time it returns.
  set_qemu_command "$dir" "$exchange" "$cpu"
  exec 8>>"$dir/lock"
  flock -s 8
  [[ -f $dir/ready ]] || die "no finished machine in $dir (vm.sh image $dir)"
  "${qemu_command[@]}" -drive "file=$dir/root.img,format=raw,if=virtio,snapshot=on" \
    "${shares[@]}" -serial "file:$session/console.log" -daemonize -pidfile "$session/qemu.pid" 8>&-
  exec 8>&-
  local started=$SECONDS
  until [[ -f $exchange/ready ]]; do
    if ! session_pid "$session" >/dev/null; then
      tail -n 30 "$session/console.log" >&2
      die "the virtual machine stopped while booting"
    fi
    if ((SECONDS - started > boot_limit)); then
      stop "$session"
      die "the virtual machine was not ready after $boot_limit s"
    fi
    sleep 0.2
  done
  echo "vm.sh: the virtual machine ($cpu) was ready after $((SECONDS - started)) s"
}

run() {
  local session=$1
  shift
  local queue=$session/exchange/queue
  [[ -f $session/exchange/ready ]] && session_pid "$session" >/dev/null ||
    die "no virtual machine is running for $session (vm.sh start)"
  local request
  request=$(mktemp -d "$queue/XXXXXXXX")
  printf '%s\0' "$@" >"$request/argv"
  pwd >"$request/cwd"
  # The project's own variables (a test's environment) go along.
  env -0 | grep -z -E '^(AES|EXAMPLE4)_?[A-Z0-9_]*=' >"$request/environment" || true
  # A file given as standard input goes along; a terminal or pipe does not,
  # as nothing here waits for typed input.
  if [[ -f /dev/stdin ]]; then
    cat >"$request/stdin"
  else
    : >"$request/stdin"
  fi
  mv "$request" "$request.req"
  request=$request.run
  until [[ -f $request/status ]]; do
    session_pid "$session" >/dev/null || die "the virtual machine stopped while running $1"
    sleep 0.05
  done
  cat "$request/stdout"
  cat "$request/stderr" >&2
  local status
  status=$(<"$request/status")
  rm -rf "$request"
  return "$status"
}

command=${1:-}
shift || true
case $command in
image | start | run | stop) "$command" "$@" ;;
*) die "usage: vm.sh image|start|run|stop ..." ;;
esac
