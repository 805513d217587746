# Shared by the QEMU integration run (scripts/integration/run) and the guest read-rate
# benchmark (bench/qemu-read-rate): the statically linked CLI, a stock Debian kernel with
# the drivers of QEMU's CD/DVD drives, disc images, the guest's initramfs and one boot.
#
# Source it from bash with `set -euo pipefail`; it defines functions and these paths:
#   ZV_ROOT     the source tree
#   ZV_CACHE    kernels fetched once and kept (.cache/qemu-kernel/)
#   ZV_WORK     images, initramfs archives, consoles and results (build-static/integration/)

ZV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
ZV_CACHE="${ZORVANE_KERNEL_CACHE:-$ZV_ROOT/.cache/qemu-kernel}"
ZV_STATIC_BUILD="$ZV_ROOT/build-static"
ZV_WORK="${ZORVANE_INTEGRATION_WORK:-$ZV_STATIC_BUILD/integration}"
ZV_CLI="$ZV_STATIC_BUILD/zorvane-cli"

# The drivers each guest loads; their dependencies come from the kernel's modules.dep.
# ahci is missing from the cloud kernel, which is fine: only the q35 boot needs it and
# that boot uses the generic kernel. virtio_net and iscsi_tcp serve the guests whose own
# kernel logs in to the served drive.
ZV_MODULES=(virtio_pci virtio_scsi ata_piix ahci sr_mod sg isofs nls_utf8 virtio_net iscsi_tcp)

# A CD image and a DVD image. QEMU presents a medium above 737,280,000 bytes (CD_MAX)
# as a DVD; the DVD image is the CD's file system followed by a sparse tail, so it costs
# a few megabytes of disk whatever its size.
ZV_DVD_BYTES=$((760 * 1024 * 1024))

zv_log() { echo "integration: $*" >&2; }
zv_die() {
  echo "integration: $*" >&2
  exit 1
}

zv_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Builds zorvane-cli statically linked in build-static/ (its own build directory, without
# the test suite).
zv_build_static_cli() {
  cmake -S "$ZV_ROOT" -B "$ZV_STATIC_BUILD" -G Ninja -DZORVANE_STATIC_CLI=ON \
    -DZORVANE_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$ZV_STATIC_BUILD" -j 2 --target zorvane-cli >/dev/null
  # A static executable has no program interpreter.
  if readelf -l "$ZV_CLI" | grep -q INTERP; then zv_die "$ZV_CLI is not statically linked"; fi
}

# The versioned package a kernel metapackage points at (linux-image-cloud-amd64 ->
# linux-image-6.1.0-57-cloud-amd64). Older versions leave the mirror, so the version is
# always taken from the metapackage, never remembered.
zv_kernel_package() {
  local meta="linux-image-$1"
  apt-cache depends "$meta" 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

# Prints the modules that `wanted` needs, dependencies first, from a modules.dep file.
# Each line: the module's path relative to the modules directory.
zv_module_order() {
  local dep_file="$1"
  shift
  awk -v wanted="$*" '
    {
      path = $1
      sub(/:$/, "", path)
      name = path
      sub(/.*\//, "", name)
      sub(/\.ko.*$/, "", name)
      gsub(/-/, "_", name)
      where[name] = path
      deps[name] = ""
      for (i = 2; i <= NF; i++) {
        d = $i
        sub(/.*\//, "", d)
        sub(/\.ko.*$/, "", d)
        gsub(/-/, "_", d)
        deps[name] = deps[name] " " d
      }
    }
    function visit(m,    n, list, i) {
      if (m in done) return
      done[m] = 1
      n = split(deps[m], list, " ")
      for (i = 1; i <= n; i++) visit(list[i])
      print where[m]
    }
    END {
      n = split(wanted, names, " ")
      for (i = 1; i <= n; i++) if (names[i] in where) visit(names[i])
    }
  ' "$dep_file"
}

# Fetches one kernel flavour (cloud-amd64 or amd64) once and keeps only what a guest
# needs: the kernel image and the wanted modules in load order. Prints its directory.
zv_prepare_kernel() {
  local flavour="$1" package dir tmp version
  package="$(zv_kernel_package "$flavour")"
  if [ -z "$package" ]; then
    zv_as_root apt-get -o DPkg::Lock::Timeout=600 update -q >&2
    package="$(zv_kernel_package "$flavour")"
  fi
  [ -n "$package" ] || zv_die "no kernel package for linux-image-$flavour"
  dir="$ZV_CACHE/$package"
  # A cache made for another list of drivers is made again.
  if [ -f "$dir/ready" ] && [ "$(cat "$dir/ready")" = "${ZV_MODULES[*]}" ]; then
    echo "$dir"
    return
  fi
  zv_log "fetching $package"
  tmp="$(mktemp -d)"
  # apt-get download writes into the current directory; the _apt user cannot write to
  # a private temporary directory, which only costs a warning.
  if ! (cd "$tmp" && apt-get download "$package" >/dev/null 2>&1); then
    zv_as_root apt-get -o DPkg::Lock::Timeout=600 update -q >&2
    (cd "$tmp" && apt-get download "$package" >/dev/null 2>&1) ||
      zv_die "apt-get download $package failed"
  fi
  dpkg-deb -x "$tmp"/*.deb "$tmp/root"
  version="${package#linux-image-}"
  depmod -b "$tmp/root" "$version"
  rm -rf "$dir"
  mkdir -p "$dir/modules"
  cp "$tmp/root/boot/vmlinuz-$version" "$dir/vmlinuz"
  local modules="$tmp/root/lib/modules/$version" path
  : >"$dir/modules/load-order"
  while read -r path; do
    case "$path" in
      *.ko) ;;
      *) zv_die "$path: compressed modules are not handled" ;;
    esac
    cp "$modules/$path" "$dir/modules/"
    basename "$path" >>"$dir/modules/load-order"
  done < <(zv_module_order "$modules/modules.dep" "${ZV_MODULES[@]}")
  grep -q '^sr_mod.ko$' "$dir/modules/load-order" || zv_die "$package has no sr_mod"
  rm -rf "$tmp"
  # Older versions of the same flavour are of no further use.
  local old
  for old in "$ZV_CACHE"/linux-image-*; do
    if [[ "$(basename "$old")" =~ ^linux-image-[0-9.]+-[0-9]+-$flavour$ ]] &&
      [ "$old" != "$dir" ]; then
      rm -rf "$old"
    fi
  done
  echo "${ZV_MODULES[*]}" >"$dir/ready"
  echo "$dir"
}

# Makes the images once per work directory: cd.iso (a few megabytes of ISO 9660) and
# dvd.iso (the same file system, sparse up to ZV_DVD_BYTES).
zv_make_images() {
  local images="$ZV_WORK/images"
  if [ -f "$images/cd.iso" ] && [ -f "$images/dvd.iso" ] && [ -f "$images/mkiso.iso" ]; then
    return
  fi
  rm -rf "$images"
  mkdir -p "$images/tree"
  printf 'Zorvane integration disc: an ISO 9660 data track read through QEMU.\n' \
    >"$images/tree/README.TXT"
  # Deterministic, non-repeating content: a later whole-track read is compared with it.
  awk 'BEGIN { for (i = 0; i < 120000; i++) printf "%08d zorvane integration data\n", i }' \
    >"$images/tree/DATA.TXT"
  xorriso -as mkisofs -quiet -V ZORVANE -o "$images/cd.iso" "$images/tree" 2>/dev/null ||
    zv_die "xorriso failed"
  cp "$images/cd.iso" "$images/dvd.iso"
  truncate -s "$ZV_DVD_BYTES" "$images/dvd.iso"
  rm -rf "$images/tree"
  zv_make_mkiso_image "$images"
}

# mkiso.iso: an image the program's own mkiso builds, for the guest's iso9660 driver to
# mount with Rock Ridge and with Joliet: long and Chinese names, deep folders, an empty
# file, a symbolic link, and a checksum list of every file made on the host.
zv_make_mkiso_image() {
  local images="$1" tree="$1/mkiso/disc"
  rm -rf "$1/mkiso"
  mkdir -p "$tree/a/b/c/d/e/f/g/h/i/j"
  printf 'deep\n' >"$tree/a/b/c/d/e/f/g/h/i/j/deep file in the tenth folder.txt"
  printf 'a name far longer than eight and three characters\n' \
    >"$tree/A name far longer than the thirty-one characters of ISO 9660 level two.text"
  printf '中文檔名的內容\n' >"$tree/光碟燒錄測試檔案.txt"
  : >"$tree/empty"
  awk 'BEGIN { for (i = 0; i < 20000; i++) printf "%08d mkiso data\n", i }' >"$tree/data.txt"
  ln -s "data.txt" "$tree/link to data"
  (cd "$tree" && find . -type f ! -name MANIFEST.MD5 -print0 | LC_ALL=C sort -z |
    xargs -0 md5sum >MANIFEST.MD5)
  "$ZV_CLI" mkiso --volume ZORVANE_MKISO "$images/mkiso.iso" "$tree" >/dev/null 2>&1 ||
    zv_die "zorvane-cli mkiso failed"
  rm -rf "$1/mkiso"
}

# Builds the guest's base initramfs for a prepared kernel: busybox, the CLI, the modules,
# the users and /init. Prints the archive's path.
zv_base_initramfs() {
  local kernel_dir="$1" name root archive
  name="$(basename "$kernel_dir")"
  root="$ZV_WORK/initramfs-$name"
  archive="$ZV_WORK/$name.cpio"
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,lib/modules,plan}
  cp /bin/busybox "$root/bin/busybox"
  cp "$ZV_CLI" "$root/bin/zorvane-cli"
  cp "$kernel_dir"/modules/* "$root/lib/modules/"
  cp "$ZV_ROOT/scripts/integration/guest-init" "$root/init"
  chmod 0755 "$root/init" "$root/bin/busybox" "$root/bin/zorvane-cli"
  chmod 1777 "$root/tmp"
  # A user without privileges, in the group that owns the drive's nodes in the guest, and
  # one outside it.
  printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/tmp:/bin/sh\n%s\n' \
    'outsider:x:1000:1000:outsider:/tmp:/bin/sh' >"$root/etc/passwd"
  printf 'root:x:0:\ncdrom:x:24:nobody\nnogroup:x:65534:\nusers:x:1000:\n' >"$root/etc/group"
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$archive"
  rm -rf "$root"
  echo "$archive"
}

# Appends a boot's plan to a copy of the base archive (the kernel unpacks concatenated
# archives in turn). The plan is a file of rows "ID|USER|NEEDS|COMMAND" that the guest
# runs in order; NEEDS is a CLI command the row needs, or "-".
zv_boot_archive() {
  local base="$1" plan="$2" out="$3" tmp
  tmp="$(mktemp -d)"
  mkdir -m 0755 "$tmp/plan"
  cp "$plan" "$tmp/plan/rows"
  chmod 0644 "$tmp/plan/rows"
  # Only the plan's own entries: a "." entry would give / the temporary directory's mode.
  { cat "$base"; (cd "$tmp" && find plan | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet); } >"$out"
  rm -rf "$tmp"
}

# Boots one guest under TCG and waits for it to power off. The kernel console goes to
# CONSOLE; the guest's results go to a second serial port, RESULTS, so that kernel
# messages never interleave with them. no_timer_check: on a busy host the emulated timer
# can miss the kernel's IO-APIC timer check, which then panics ("IO-APIC + timer doesn't
# work").
#   zv_boot KERNEL_DIR ARCHIVE IMAGE CONSOLE RESULTS SECONDS QEMU-ARGS...
zv_boot() {
  local kernel_dir="$1" archive="$2" image="$3" console="$4" results="$5" seconds="$6"
  shift 6
  rm -f "$console" "$results"
  local status=0
  timeout --kill-after=10 "$seconds" qemu-system-x86_64 -accel tcg -m 512 -nodefaults \
    -display none -no-reboot -monitor none \
    -serial "file:$console" -serial "file:$results" \
    -kernel "$kernel_dir/vmlinuz" -initrd "$archive" \
    -append "console=ttyS0 quiet panic=-1 no_timer_check" \
    "$@" \
    -drive "if=none,id=cd0,media=cdrom,format=raw,readonly=on,file=$image" ||
    status=$?
  # The serial ports carry \r\n line ends.
  [ -f "$results" ] && sed -i 's/\r$//' "$results"
  [ -f "$console" ] && sed -i 's/\r$//' "$console"
  return "$status"
}

# The host's side of a guest that asks for its drive to be removed: when the guest writes
# "@@ UNPLUG DEVICE-ID" on its results port, device_del DEVICE-ID goes to QEMU's monitor
# (DIR/monitor.sock).
unplug_watch() {
  local dir="$1" id=""
  while [ -z "$id" ]; do
    sleep 0.2
    id="$(sed -n 's/^@@ UNPLUG \([A-Za-z0-9_-]*\).*/\1/p' "$dir/results.log" 2>/dev/null | head -n 1)"
  done
  python3 - "$dir/monitor.sock" "$id" <<'PY'
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(("device_del %s\n" % sys.argv[2]).encode())
time.sleep(1)
s.close()
PY
  echo "device_del $id at $(date +%s.%N)" >"$dir/unplugged"
}

# Splits a results log into DIR/ID.out, ID.err, ID.status and ID.time (centiseconds),
# and lists skipped rows in DIR/skipped ("ID NEEDS"). Fails unless the log ends with the
# guest's closing marker.
zv_split_results() {
  local results="$1" dir="$2"
  rm -rf "$dir"
  mkdir -p "$dir"
  : >"$dir/skipped"
  grep -q '^@@ DONE$' "$results" || return 1
  awk -v dir="$dir" '
    function flush() {
      if (file != "") {
        if (noeol && text != "") text = substr(text, 1, length(text) - 1)
        printf "%s", text > file
        close(file)
      }
      file = ""; text = ""; noeol = 0
    }
    /^@@ BEGIN / { id = $3; next }
    /^@@ STDOUT$/ { flush(); file = dir "/" id ".out"; next }
    /^@@ STDERR$/ { flush(); file = dir "/" id ".err"; next }
    /^@@ NOEOL$/ { noeol = 1; next }
    /^@@ STATUS / { flush(); print $3 > (dir "/" id ".status"); close(dir "/" id ".status"); next }
    /^@@ TIME / { print $3 > (dir "/" id ".time"); close(dir "/" id ".time"); next }
    /^@@ SKIP / { print $3, $4 >> (dir "/skipped"); next }
    /^@@ END / { flush(); id = ""; next }
    /^@@ / { flush(); print > (dir "/guest-notes"); next }
    { if (file != "") text = text $0 "\n" }
  ' "$results"
}
