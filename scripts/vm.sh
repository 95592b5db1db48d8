#!/usr/bin/env bash
# Runs the i686 test suite in a small virtual machine whose kernel starts
# 32-bit programs, for hosts whose own kernel cannot. Arguments go to CTest.
#
# The machine is Debian 12 with 32-bit Wine, Xvfb and CMake, made once with
# debootstrap into $TOOLS_VM_DIR (default ~/.cache/tools/vm, outside any
# checkout so that every clone on the host shares it) and made again only
# when its recipe below changes. It boots under qemu-system-x86_64 with its
# root on a 9p share, copies the i686 build onto its own tmpfs (PE files
# mapped straight from 9p crash in the runtime DLLs' start-up), runs CTest
# there with scripts/with-display.sh as on any host, and hands CTest's
# output and exit status back through a second share, one of each run's
# own, so that runs from several checkouts share the image but nothing
# else (the image is made under a lock). Exits with CTest's
# status, or 1 with one line saying why when the machine cannot be made or
# started. Progress lines start with "vm:".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
vm=${TOOLS_VM_DIR:-$HOME/.cache/tools/vm}
image=$vm/image

# Bounds, in seconds.
image_limit=1800     # debootstrap, and the packages inside
suite_limit=2400     # boot, Wine's prefix and the whole suite
program_limit=300    # one test program (CTest's own timeout)
need_kib=$((4 * 1024 * 1024))

say() { echo "vm: $*"; }
fail() { echo "vm: cannot run the i686 tests: $*"; exit 1; }

# The image's recipe. Its text is hashed into the stamp, so any change here
# makes the image anew on the next run.
mirror() {
  # The mirror the host's own packages come from, else Debian's default.
  local uri
  uri=$(grep -hsoE '^(URIs:|deb) +https?://[^ ]+' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list |
        grep -v -- '-security' | head -n 1 | awk '{ print $2 }')
  echo "${uri:-http://deb.debian.org/debian}"
}

guest_init() {
  # The machine's first process: mounts what Wine needs, then the run share,
  # and runs what the host left there. Ends the machine either way.
  cat <<'EOF'
#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mkdir -p /mnt/run
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 run /mnt/run && sh /mnt/run/guest.sh
sync
echo o > /proc/sysrq-trigger
sleep 60
EOF
}

make_image() {
  local dir=$1 kernel
  debootstrap --variant=minbase --include=linux-image-amd64,initramfs-tools,kmod,udev \
              bookworm "$dir" "$(mirror)"
  cp /etc/resolv.conf "$dir/etc/resolv.conf"
  mount -t proc proc "$dir/proc"
  trap 'umount "$dir/proc" 2>/dev/null || true' RETURN
  chroot "$dir" /bin/sh -ec '
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends wine wine32:i386 wine64 xvfb xauth cmake >/dev/null
    apt-get clean'
  printf '%s\n' 9p 9pnet 9pnet_virtio virtio_pci >> "$dir/etc/initramfs-tools/modules"
  kernel=$(basename "$(ls "$dir"/boot/vmlinuz-* | head -n 1)")
  kernel=${kernel#vmlinuz-}
  chroot "$dir" update-initramfs -u -k "$kernel" >/dev/null
  # A first initramfs made while the kernel package was installed lacked
  # them: check that the root's modules made it in.
  local listing
  listing=$(chroot "$dir" lsinitramfs "/boot/initrd.img-$kernel")
  grep -q '9pnet_virtio' <<<"$listing" || { echo "the initramfs lacks the 9p modules"; return 1; }
  guest_init > "$dir/sbin/tools-vm-init"
  chmod +x "$dir/sbin/tools-vm-init"
}

recipe=$( { declare -f mirror guest_init make_image; mirror; } | sha256sum | cut -c1-16)

command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is not installed (package qemu-system-x86)"
[ -f "$build/i686/bin/tools.dll" ] || fail "no i686 build in $build/i686"
mkdir -p "$vm" || fail "cannot make $vm"

# Runs hold the lock shared while they use the image; the one that makes
# it anew holds it alone, and the others look again once they have it.
stale() { [ "$(cat "$vm/recipe" 2>/dev/null)" != "$recipe" ] || [ ! -x "$image/sbin/tools-vm-init" ]; }
exec 9> "$vm/lock"
flock -s 9
if stale; then
  flock -x 9
fi
if stale; then
  command -v debootstrap >/dev/null || fail "debootstrap is not installed"
  avail=$(df -Pk "$vm" | awk 'NR == 2 { print $4 }')
  [ "$avail" -ge "$need_kib" ] || fail "only $((avail / 1024)) MiB free in $vm; the image needs 4 GiB"
  say "making the machine's image in $image (a few minutes, once)"
  start=$SECONDS
  # Never delete a tree that still has something mounted inside.
  if findmnt -rno TARGET | grep -q "^$vm/"; then fail "something is still mounted under $vm"; fi
  rm -rf "$image" "$image.new" "$vm/recipe"
  export -f mirror guest_init make_image
  if ! timeout "$image_limit" bash -c 'set -euo pipefail; make_image "$1"' _ "$image.new" > "$vm/image.log" 2>&1; then
    tail -n 5 "$vm/image.log" | sed 's/^/vm:   /'
    fail "making the image failed or took over $image_limit s (log: $vm/image.log)"
  fi
  mv "$image.new" "$image"
  echo "$recipe" > "$vm/recipe"
  say "image made in $((SECONDS - start)) s"
else
  say "reusing the image in $image"
fi
flock -s 9

# What the machine runs: the i686 build's programs and CTest files, and the
# scripts they are started through, at the paths CTest knows them by.
run=$(mktemp -d "$vm/run.XXXXXX") || fail "cannot make a run folder in $vm"
trap 'rm -rf "$run"' EXIT
( cd "$root" &&
  { echo scripts; echo cmake;
    rel=${build#"$root"/}
    [ "$rel" != "$build" ] || fail "the build folder must lie inside $root"
    echo "$rel/i686/bin"
    (cd "$build/i686" && find . -name CTestTestfile.cmake -printf "$rel/i686/%P\n"); } |
  tar -cf "$run/payload.tar" --exclude='*.obj' -T - ) || fail "cannot pack the i686 build"
{
  printf 'ROOT=%q\n' "$root"
  printf 'BUILD=%q\n' "$build"
  printf 'PROGRAM_LIMIT=%q\n' "$program_limit"
  printf 'ARGS=(' ; printf '%q ' "$@"; printf ')\n'
} > "$run/run.env"
cat > "$run/guest.sh" <<'EOF'
set -u
cd /mnt/run
# bash, for the arguments' array.
exec bash -c '
  . /mnt/run/run.env
  echo "vm: booted; unpacking the i686 build"
  mkdir -p "$ROOT" && mount -t tmpfs -o size=4g tmpfs "$ROOT" && tar -xf /mnt/run/payload.tar -C "$ROOT" || exit 1
  export HOME=/tmp/home
  mkdir -p "$HOME"
  cd "$BUILD/i686"
  echo "vm: running the i686 suite"
  "$ROOT/scripts/with-display.sh" ctest --output-on-failure --timeout "$PROGRAM_LIMIT" -j2 "${ARGS[@]}" \
    > /mnt/run/ctest.log 2>&1
  echo $? > /mnt/run/status
  sync'
EOF

kernel=$(ls "$image"/boot/vmlinuz-* | head -n 1)
initrd=$(ls "$image"/boot/initrd.img-* | head -n 1)
say "booting (software emulation; the whole suite takes several minutes)"
start=$SECONDS
timeout "$suite_limit" qemu-system-x86_64 -m 6G -smp 2 -nographic -no-reboot -nic none \
  -kernel "$kernel" -initrd "$initrd" \
  -append "root=hostroot rootfstype=9p rootflags=trans=virtio,version=9p2000.L,msize=512000 rw console=ttyS0 quiet loglevel=0 init=/sbin/tools-vm-init" \
  -virtfs "local,path=$image,mount_tag=hostroot,security_model=passthrough,id=root" \
  -virtfs "local,path=$run,mount_tag=run,security_model=passthrough,id=run" \
  < /dev/null 2>&1 | stdbuf -oL tr -d '\r' | grep --line-buffered '^vm:' || true
if [ ! -f "$run/status" ]; then
  [ -f "$run/ctest.log" ] && cat "$run/ctest.log"
  fail "the machine ended without a result after $((SECONDS - start)) s (limit $suite_limit s)"
fi
cat "$run/ctest.log"
say "suite done in $((SECONDS - start)) s, boot included"
exit "$(cat "$run/status")"
