# Host side of the FAT test vehicle, sourced by tools/fat-check/run and
# tools/fat-check/guest-run (POSIX sh). See tools/fat-check/README.md.
#
# The guest is Debian's own kernel in QEMU with a small busybox initramfs
# that mounts this machine's root read-only over 9p, mounts the scratch
# folder read-write over a second 9p share at the same path, chroots into
# the host root and runs tools/fat-check/guest-main. Everything the guest
# writes lands in the scratch folder ($FAT_SCRATCH, below the build folder).

# Exit status for "the FAT checks could not run": distinct from a pass (0)
# and from failed checks (1).
FAT_SKIP_STATUS=77

FAT_PACKAGES="qemu-system-x86 linux-image-amd64 dosfstools exfatprogs \
busybox-static cpio strace"

# Modules the initramfs loads to reach the host root: the virtio PCI
# transport and 9p over virtio. Their dependencies are read from the
# kernel's modules.dep when the initramfs is built.
FAT_INITRAMFS_MODULES="virtio_pci 9pnet_virtio 9p"

fat_say() { printf 'fat-check: %s\n' "$*"; }

# Prints the reason, the SKIPPED line, and exits with the skip status.
fat_skip() {
  fat_say "$*"
  echo "fat-check: SKIPPED: the FAT checks did not run."
  exit "$FAT_SKIP_STATUS"
}

fat_now() { date +%s.%N; }

# Seconds between two fat_now values, with one decimal.
fat_elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# Installs the missing packages with apt-get as root; otherwise names them
# and skips. apt-get waits for a lock held by another installer.
fat_deps() {
  missing=""
  for p in $FAT_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
      || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    fat_say "missing packages:$missing"
    fat_say "install them with: sudo apt-get install --no-install-recommends$missing"
    fat_skip "cannot install packages without root."
  fi
  fat_say "installing:$missing"
  t0=$(fat_now)
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get -o DPkg::Lock::Timeout=300 update -q \
         && apt-get -o DPkg::Lock::Timeout=300 install -y -q \
              --no-install-recommends $missing; } >"$FAT_SCRATCH/apt.log" 2>&1; then
    tail -n 20 "$FAT_SCRATCH/apt.log"
    fat_skip "apt-get could not install:$missing (log: $FAT_SCRATCH/apt.log)"
  fi
  fat_say "packages installed in $(fat_elapsed "$t0" "$(fat_now)") s"
}

# Sets FAT_KVER and FAT_KERNEL: the newest installed Debian kernel image
# (owned by a linux-image package) whose modules tree holds everything the
# guest loads. The guest's modprobe then reads the same /lib/modules over 9p.
fat_find_kernel() {
  FAT_KVER=""
  for k in $(ls /boot/vmlinuz-*-amd64 2>/dev/null | sed 's|^/boot/vmlinuz-||' | sort -V); do
    dpkg -S "/boot/vmlinuz-$k" 2>/dev/null | grep -q '^linux-image-' || continue
    ok=1
    for m in $FAT_INITRAMFS_MODULES vfat exfat loop nls_cp437 nls_ascii nls_utf8 nls_iso8859_1; do
      modinfo -k "$k" -F filename "$m" >/dev/null 2>&1 || { ok=0; break; }
    done
    [ "$ok" = 1 ] && FAT_KVER=$k
  done
  [ -n "$FAT_KVER" ] || fat_skip "no Debian kernel in /boot with vfat, exfat, loop and 9p modules (package linux-image-amd64)."
  FAT_KERNEL=/boot/vmlinuz-$FAT_KVER
  [ -r "$FAT_KERNEL" ] || fat_skip "cannot read $FAT_KERNEL."
}

# Builds $FAT_SCRATCH/initramfs.cpio.gz: busybox, /init and the modules for
# virtio and 9p, in load order. Made anew on every run (it takes well under
# a second), so it always matches the chosen kernel and tools/fat-check/init.
fat_build_initramfs() {
  root=$FAT_SCRATCH/initramfs
  rm -rf "$root"
  mkdir -p "$root/bin" "$root/modules" "$root/proc" "$root/sys" "$root/dev" \
    "$root/newroot" "$root/scratch"
  cp /bin/busybox "$root/bin/busybox" \
    || fat_skip "no /bin/busybox (package busybox-static)."
  ln -s busybox "$root/bin/sh"
  cp "$FAT_TOOLS/init" "$root/init"
  chmod 755 "$root/init"
  # --show-depends lists each module after what it needs; keep the first
  # mention of every file.
  n=0
  for f in $(modprobe -a -S "$FAT_KVER" --show-depends $FAT_INITRAMFS_MODULES \
               | awk '$1 == "insmod" && !seen[$2]++ { print $2 }'); do
    n=$((n + 1))
    case $f in
      *.ko) cp "$f" "$root/modules/$(printf '%02d' $n)-$(basename "$f")" ;;
      *.ko.xz) xz -dc "$f" > "$root/modules/$(printf '%02d' $n)-$(basename "$f" .xz)" ;;
      *.ko.zst) zstd -qdc "$f" > "$root/modules/$(printf '%02d' $n)-$(basename "$f" .zst)" ;;
      *) fat_skip "unexpected module file $f" ;;
    esac
  done
  [ "$n" -gt 0 ] || fat_skip "modprobe found no modules for $FAT_INITRAMFS_MODULES in $FAT_KVER."
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) \
    | gzip -1 > "$FAT_SCRATCH/initramfs.cpio.gz" \
    || fat_skip "cannot pack the initramfs."
}

# The image kinds: file system, mkfs options, default size in MiB, cluster
# size in bytes. FAT32 with 32 KiB clusters below about 2 GiB has fewer than
# the 65525 clusters FAT32 formally wants; mkfs.fat warns and makes it, and
# the Linux driver mounts it (it tells FAT32 from the BPB, not the count).
fat_kind() {
  case $1 in
    fat32-512)  FAT_FS=vfat;  FAT_MKFS="-F 32 -S 512 -s 1"; FAT_MIB=64;  FAT_CLUSTER=512 ;;
    fat32-32k)  FAT_FS=vfat;  FAT_MKFS="-F 32 -S 512 -s 64"; FAT_MIB=256; FAT_CLUSTER=32768 ;;
    exfat-4k)   FAT_FS=exfat; FAT_MKFS="-c 4K";   FAT_MIB=64;  FAT_CLUSTER=4096 ;;
    exfat-128k) FAT_FS=exfat; FAT_MKFS="-c 128K"; FAT_MIB=256; FAT_CLUSTER=131072 ;;
    none)       FAT_FS=none;  FAT_MKFS="";        FAT_MIB=0;   FAT_CLUSTER=0 ;;
    *) return 1 ;;
  esac
  FAT_MIB=${FAT_SCENARIO_MIB:-${FAT_IMAGE_MIB:-$FAT_MIB}}
}

FAT_ALL_KINDS="fat32-512 fat32-32k exfat-4k exfat-128k"

# The mount options a desktop automounter uses for each file system.
fat_mount_options() {
  case $1 in
    vfat) echo "shortname=mixed,utf8=1,showexec,flush,nosuid,nodev" ;;
    exfat) echo "iocharset=utf8,errors=remount-ro,nosuid,nodev" ;;
    *) echo "-" ;;
  esac
}

# fat_make_image KIND FILE: a fresh sparse image of that kind.
fat_make_image() {
  fat_kind "$1" || { fat_say "unknown image kind $1"; return 1; }
  rm -f "$2"
  [ "$FAT_FS" = none ] && return 0
  truncate -s "${FAT_MIB}M" "$2" || return 1
  case $FAT_FS in
    vfat) mkfs.vfat $FAT_MKFS -n PLAYER "$2" >"$2.mkfs" 2>&1 ;;
    exfat) mkfs.exfat $FAT_MKFS -L PLAYER "$2" >"$2.mkfs" 2>&1 ;;
  esac || { cat "$2.mkfs"; return 1; }
}

# fat_add_run ID KIND SCRIPT [ARGS...]: one line of the guest's plan, with
# a fresh target image and the result folder. No field may hold a tab or a
# newline, nor be empty.
fat_add_run() {
  dir=$FAT_SCRATCH/runs/$1
  rm -rf "$dir"
  mkdir -p "$dir"
  fat_make_image "$2" "$dir/target.img" || return 1
  line=$(printf '%s\t%s\t%s\t%s\t%s' "$1" "$2" "$FAT_FS" "$FAT_CLUSTER" \
    "$(fat_mount_options "$FAT_FS")")
  shift 2
  tab=$(printf '\t')
  nl='
'
  for a in "$@"; do
    case $a in
      ''|*"$tab"*|*"$nl"*) fat_say "argument '$a' is empty or holds a tab or newline"; return 1 ;;
    esac
    line=$(printf '%s\t%s' "$line" "$a")
  done
  printf '%s\n' "$line" >> "$FAT_SCRATCH/plan"
}

# Sets FAT_ACCEL: kvm when a VM can be made and run (checked with a short
# guest that powers off at once), otherwise tcg. FAT_CHECK_ACCEL=kvm|tcg
# overrides the probe.
fat_pick_accel() {
  case ${FAT_CHECK_ACCEL:-auto} in
    kvm|tcg) FAT_ACCEL=$FAT_CHECK_ACCEL; return ;;
  esac
  FAT_ACCEL=tcg
  if [ ! -r /dev/kvm ] || [ ! -w /dev/kvm ]; then
    fat_say "no usable /dev/kvm: software emulation (TCG)"
    return 0
  fi
  p0=$(fat_now)
  # The probe boots the real kernel into the initramfs, whose /init says
  # so on the console and powers off: under working KVM a few seconds.
  rm -f "$FAT_SCRATCH/kvm-probe.console"
  timeout -k 5 10 qemu-system-x86_64 -accel kvm -M q35 -m 256 -nodefaults \
    -no-user-config -display none -no-reboot -monitor none \
    -serial "file:$FAT_SCRATCH/kvm-probe.console" \
    -kernel "$FAT_KERNEL" -initrd "$FAT_SCRATCH/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 quiet fatcheck.probe" \
    </dev/null >"$FAT_SCRATCH/kvm-probe.log" 2>&1 || true
  if grep -q '^fatcheck: probe ok' "$FAT_SCRATCH/kvm-probe.console" 2>/dev/null; then
    FAT_ACCEL=kvm
    fat_say "KVM works (probe guest up and off in $(fat_elapsed "$p0" "$(fat_now)") s)"
  else
    fat_say "KVM probe guest did not come up in $(fat_elapsed "$p0" "$(fat_now)") s: software emulation (TCG)"
  fi
}

# Boots the guest on $FAT_SCRATCH/plan, bounded by FAT_CHECK_TIMEOUT
# seconds; sets FAT_QEMU_STATUS and FAT_QEMU_SECONDS.
fat_boot() {
  command -v qemu-system-x86_64 >/dev/null \
    || fat_skip "no qemu-system-x86_64 (package qemu-system-x86)."
  if [ "$(id -u)" = 0 ]; then model=passthrough; else model=none; fi
  rm -f "$FAT_SCRATCH/booted" "$FAT_SCRATCH/done" "$FAT_SCRATCH/console.log"
  cat > "$FAT_SCRATCH/guest.conf" <<EOF
FAT_SCRATCH='$FAT_SCRATCH'
FAT_TOOLS='$FAT_TOOLS'
FAT_KVER='$FAT_KVER'
FAT_PLINKARD='$FAT_PLINKARD'
FAT_RUN_TIMEOUT='${FAT_RUN_TIMEOUT:-300}'
FAT_IMAGE_IN_RAM='${FAT_IMAGE_IN_RAM:-1}'
EOF
  fat_pick_accel
  append="console=ttyS0 panic=-1 loglevel=4"
  [ -n "${FAT_CHECK_VERBOSE:-}" ] || append="$append quiet"
  fat_say "booting $FAT_KERNEL ($FAT_ACCEL, timeout ${FAT_CHECK_TIMEOUT:-900} s)"
  t0=$(fat_now)
  set +e
  # One processor for each of the host's, up to two: the guest runs that
  # many scenarios at once (software emulation too, one thread each).
  cpus=${FAT_CHECK_CPUS:-$(nproc)}
  [ -n "${FAT_CHECK_CPUS:-}" ] || [ "$cpus" -le 2 ] || cpus=2
  accel=$FAT_ACCEL
  [ "$accel" = tcg ] && accel=tcg,thread=multi
  timeout -k 10 "${FAT_CHECK_TIMEOUT:-900}" qemu-system-x86_64 \
    -accel "$accel" -M q35 -smp "$cpus" \
    -m "${FAT_CHECK_MEMORY:-$((cpus * 1024))}" \
    -nodefaults -no-user-config -display none -no-reboot -monitor none \
    -serial "file:$FAT_SCRATCH/console.log" \
    -kernel "$FAT_KERNEL" -initrd "$FAT_SCRATCH/initramfs.cpio.gz" \
    -append "$append" \
    -virtfs "local,path=/,mount_tag=hostroot,security_model=$model,readonly=on,multidevs=remap" \
    -virtfs "local,path=$FAT_SCRATCH,mount_tag=scratch,security_model=$model,multidevs=remap" \
    </dev/null >"$FAT_SCRATCH/qemu.log" 2>&1
  FAT_QEMU_STATUS=$?
  set -e
  FAT_QEMU_SECONDS=$(fat_elapsed "$t0" "$(fat_now)")
  if [ ! -f "$FAT_SCRATCH/booted" ]; then
    [ -s "$FAT_SCRATCH/qemu.log" ] && sed 's/^/  qemu: /' "$FAT_SCRATCH/qemu.log" | tail -n 10
    [ -s "$FAT_SCRATCH/console.log" ] && sed 's/^/  console: /' "$FAT_SCRATCH/console.log" | tail -n 15
    if [ "$FAT_QEMU_STATUS" = 124 ]; then
      fat_skip "the guest did not report within ${FAT_CHECK_TIMEOUT:-900} s."
    fi
    fat_skip "the guest never reported (QEMU exit status $FAT_QEMU_STATUS after $FAT_QEMU_SECONDS s; logs in $FAT_SCRATCH)."
  fi
}

# Prints how the time went: QEMU from start to exit, and the guest's uptime
# when guest-main started and finished (written by the guest).
fat_report_times() {
  up0=$(cut -d' ' -f1 "$FAT_SCRATCH/booted")
  up1=$( [ -f "$FAT_SCRATCH/done" ] && cut -d' ' -f1 "$FAT_SCRATCH/done" || echo "?")
  fat_say "QEMU ran $FAT_QEMU_SECONDS s ($FAT_ACCEL): guest up at $up0 s, checks done at $up1 s (guest uptime)"
}

# Common start: the scratch folder, packages, kernel, initramfs.
fat_setup() {
  FAT_SCRATCH=$FAT_BUILD/fat-check
  mkdir -p "$FAT_SCRATCH"
  FAT_SCRATCH=$(cd "$FAT_SCRATCH" && pwd -P)
  for p in "$FAT_SCRATCH" "$FAT_TOOLS" "$FAT_PLINKARD"; do
    case $p in
      *[!A-Za-z0-9_./+-]*) fat_say "the path $p holds characters that the guest set-up does not quote; use plainer folder names."; exit 1 ;;
    esac
  done
  fat_deps
  fat_find_kernel
  fat_build_initramfs
  rm -rf "$FAT_SCRATCH/runs"
  mkdir -p "$FAT_SCRATCH/ram"
  : > "$FAT_SCRATCH/plan"
}
