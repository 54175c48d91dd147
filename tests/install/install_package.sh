#!/bin/sh
# The programs as the Debian package installs them: builds the package from this build tree,
# checks its control fields and its files with Debian's lint tools, unpacks it into a scratch
# root and runs the programs there. A file missing from the layout, a dependency left out or
# a path the programs do not find fails here.
#   install_package.sh BUILD_DIR SOURCE_DIR [X_WINDOW_PROBE]
set -eu
build=$1
source=$2
probe=${3:-}

work=$(mktemp -d)
root=$work/root
bin=$root/usr/bin
cleanup() {
  chattr -i "$bin" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install_package: $*" >&2
  exit 1
}

# The package, named tabrend_VERSION_ARCH.deb after the version the programs print.
version=$("$build/bin/tabrendcli" --version | sed -n 's/^tabrendcli //p')
deb=$work/package/tabrend_${version}_$(dpkg --print-architecture).deb
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack failed"
fi
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack wrote: $(ls "$work/package")"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
# Depends as dpkg-shlibdeps found them, with versions.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libzip4; do
  echo "$depends" | grep -q "$library (>=" || fail "Depends lacks $library: $depends"
done
dpkg-deb -f "$deb" Recommends | grep -q libreoffice-calc-nogui || fail "LibreOffice is not recommended"
dpkg-deb -f "$deb" Recommends | grep -q python3-distributed || fail "Dask is not recommended"

id=org.example.tabrend
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/contents"
for path in usr/bin/Tabrend usr/bin/tabrendcli usr/bin/tabrend-dask usr/share/man/man1/tabrend-dask.1.gz \
            usr/share/tabrend/help.html \
            usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
            usr/share/man/man1/tabrendcli.1.gz usr/share/man/man1/Tabrend.1.gz \
            usr/share/doc/tabrend/copyright usr/share/doc/tabrend/changelog.gz; do
  grep -qx "\./$path" "$work/contents" || fail "the package lacks /$path"
done
for size in 16 22 24 32 48 64 128 256; do
  grep -qx "\./usr/share/icons/hicolor/${size}x${size}/apps/$id.png" "$work/contents" ||
    fail "the package lacks the ${size}x${size} icon"
done

lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
dpkg -x "$deb" "$root"
share=$root/usr/share
desktop-file-validate "$share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" >"$work/appstream.log" 2>&1 ||
  { cat "$work/appstream.log" >&2; fail "AppStream metadata"; }
for page in tabrendcli Tabrend tabrend-dask; do
  mandoc -T lint "$share/man/man1/$page.1.gz" || fail "manual page $page.1"
done

# The installed command splits the sample as the built one does.
[ "$("$bin/tabrendcli" --version)" = "tabrendcli $version" ] || fail "installed --version"
"$bin/tabrend-dask" --help | grep -q "^usage: tabrend-dask" || fail "installed tabrend-dask does not start"
sample="$source/samples/Quarterly Sales.xlsx"
"$bin/tabrendcli" "$sample" "$work/installed" || fail "installed tabrendcli exited with $?"
"$build/bin/tabrendcli" "$sample" "$work/built"
written=$(ls "$work/installed")
[ -n "$written" ] && [ "$written" = "$(ls "$work/built")" ] || fail "installed tabrendcli wrote: $written"

# Installed, the program folder is not writable: the state files go to ~/.config/tabrend.
# Root writes anywhere unless the folder is immutable; where that cannot be set, the program
# folder stays the state folder.
home=$work/home
chmod 555 "$bin"
[ -w "$bin" ] && chattr +i "$bin" 2>/dev/null || true
state=$home/.config/tabrend
[ -w "$bin" ] && state=$bin
mkdir -p "$state"
printf '/tmp\r\n/no/such/workbook.xlsx' >"$state/EXCEL.txt"
run() { env -u XDG_CONFIG_HOME HOME="$home" "$@"; }

# Offscreen the window cannot be closed from outside: the program must still be running,
# with its window up, when it is stopped.
status=0
run QT_QPA_PLATFORM=offscreen timeout 5 "$bin/Tabrend" 2>"$work/offscreen.log" || status=$?
[ $status -eq 124 ] || { cat "$work/offscreen.log" >&2; fail "installed Tabrend ended with $status offscreen"; }

# On a virtual X server it is closed as by its close box, and saves its list where it read it.
if [ -n "$probe" ] && command -v xvfb-run >/dev/null; then
  run xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    set -eu
    QT_QPA_PLATFORM=xcb "$1" &
    pid=$!
    "$2" wait Tabrend 15000
    tries=0
    while kill -0 $pid 2>/dev/null && [ $tries -lt 20 ]; do
      "$2" close Tabrend 2>/dev/null || true
      sleep 1
      tries=$((tries + 1))
    done
    wait $pid
  ' sh "$bin/Tabrend" "$probe" || fail "installed Tabrend on Xvfb"
  expected=$(printf '/tmp\r\n/no/such/workbook.xlsx\r\n' | od -An -c)
  [ "$(od -An -c "$state/EXCEL.txt")" = "$expected" ] || fail "EXCEL.txt in $state was not saved"
  if [ "$state" != "$bin" ] && [ -e "$bin/EXCEL.txt" ]; then fail "EXCEL.txt written into $bin"; fi
fi
echo "tabrend_$version: package, lint checks and installed programs passed; state files in $state"
