#!/usr/bin/env bash
# Builds the Debian package (a release build, scripts/package.sh), checks it (lintian,
# desktop-file-validate, appstreamcli), installs it with apt-get, runs what it installed (which must
# refuse a package signed with the development key), purges it and checks that nothing of it is
# left under /usr.
# Needs root (or sudo) because it installs into the system. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
apt_get() { DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@"; }

bash scripts/install-deps.sh lintian desktop-file-utils appstream man-db dpkg-dev file xvfb xauth

build_dir="${VFU_RELEASE_BUILD_DIR:-build-release}"
package_name=vorn-firmware-updater
work="$(mktemp -d "${TMPDIR:-/tmp}/vfu-package-test.XXXXXX")"

fail() { echo "FAIL: $*" >&2; exit 1; }

cleanup() {
  # A failed run must not leave the package installed.
  if dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q 'installed'; then
    apt_get purge "$package_name" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

started=$SECONDS
bash scripts/package.sh
package_seconds=$((SECONDS - started))

shopt -s nullglob
debs=("$build_dir"/deb/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package in $build_dir/deb, found ${#debs[@]}"
deb="$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")"

version="$(dpkg-deb -f "$deb" Version)"
changelog_version="$(dpkg-parsechangelog -l packaging/changelog -S Version)"
[ "$version" = "$changelog_version" ] ||
  fail "the package is version $version but packaging/changelog's latest entry is $changelog_version"
[ "$(basename "$deb")" = "${package_name}_${version}_amd64.deb" ] || fail "unexpected file name $(basename "$deb")"

# The X11 libraries JUCE opens at run time are declared by hand, the linked ones by dpkg-shlibdeps.
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libx11-6 libxext6 libasound2 libfreetype6; do
  grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "the package does not depend on $library: $depends"
done

echo "== checking the package's files"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"
# The installed tree as a whole: the metadata's desktop entry and icons are where it says.
appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli validate-tree"

echo "== lintian"
# Informational tags are printed, errors and warnings fail the run.
lintian --info --display-info --fail-on error,warning "$deb" || fail "lintian reported errors or warnings"

# Every file of the package and its documentation folder, as installed paths (the other folders
# are shared with other packages).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' >"$work/owned"
echo "/usr/share/doc/$package_name" >>"$work/owned"
# Anything named after the package: catches files the package or its scripts create besides its list.
leftovers() {
  find /usr \( -iname '*quillbox*' -o -iname "${package_name}*" -o -path /usr/bin/vfu \
    -o -path /usr/share/man/man1/vfu.1.gz \) -print 2>/dev/null
}

if dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q 'installed'; then
  echo "== purging the $package_name installed before"
  apt_get purge "$package_name" >/dev/null
fi
[ -z "$(leftovers)" ] || fail "files of the package exist before it is installed: $(leftovers | tr '\n' ' ')"

echo "== installing $deb"
started=$SECONDS
apt_get install "$deb" >/dev/null
app="$(command -v quillbox-firmware-updater)" || fail "quillbox-firmware-updater is not on the PATH"
[ "$app" = /usr/bin/quillbox-firmware-updater ] || fail "quillbox-firmware-updater found at $app"

echo "== the installed app: a demonstration update under Xvfb"
mkdir -p "$work/home"
# The app allows one instance per machine: a start while another runs (a window test elsewhere)
# hands over and quits at once, before printing its "Demonstration:" line. Then it is tried again.
for attempt in 1 2 3 4 5 6; do
  status=0
  env -u XDG_CONFIG_HOME HOME="$work/home" xvfb-run -a -s "-screen 0 1280x800x24" \
    "$app" --simulate --speed 10 --exit-when-done --quit-after 600 >"$work/app.out" 2>"$work/app.err" || status=$?
  grep -q '^Demonstration: ' "$work/app.out" && break
  [ $status -ne 0 ] && break
  echo "another instance of the app is running; trying again in 20 s ($attempt)"
  sleep 20
done
if [ $status -ne 0 ] || ! grep -qxF "Instructions: Update completed successfully." "$work/app.out"; then
  cat "$work/app.out"
  grep -v -e '^ALSA lib' -e 'snd_seq' "$work/app.err" || true
  fail "the installed app's demonstration update did not complete (exit status $status)"
fi
log="$work/home/.config/Vorn Firmware Updater/vfu-quillbox.log"
[ -s "$log" ] || fail "no log at $log"
grep -qF "Using inbuilt state machine definitions" "$log" || fail "the installed app did not use its inbuilt definitions"

echo "== vfu"
vfu --help >"$work/help.out" || fail "vfu --help"
grep -q "packages" "$work/help.out" || fail "vfu --help lists no packages command"
vfu packages --program "$app" >"$work/packages.out" || { cat "$work/packages.out"; fail "vfu packages"; }
# Exactly one accepted package, version 2.2.1, from the program itself.
[ "$(grep -c '"version":' "$work/packages.out")" -eq 1 ] &&
  grep -qF '"version": "2.2.1"' "$work/packages.out" ||
  { cat "$work/packages.out"; fail "the installed app does not offer exactly the firmware 2.2.1"; }

echo "== the installed programs refuse the development key"
# Its secret is in the repository, so anyone can sign a "newer" firmware with it.
development_key_id="$(awk '/^ed25519-public-key /{print $2}' keys/development.pub)"
grep -qF '"signature": "signed by ' "$work/packages.out" && ! grep -qF "$development_key_id" "$work/packages.out" ||
  { cat "$work/packages.out"; fail "the delivered firmware is not signed by the release key"; }
vfu make-image --model quillbox --version 9.9.9 --size 1000 -o "$work/quillbox-fw-9.9.9.syx" >/dev/null
vfu pack --name quillbox-fw-9.9.9 --sign keys/development.key -o "$work/forged.vfw" "$work/quillbox-fw-9.9.9.syx" >/dev/null
status=0
vfu verify "$work/forged.vfw" >"$work/verify.out" 2>&1 || status=$?
[ $status -eq 1 ] && grep -qF "signature invalid: signed by an unknown key: $development_key_id" "$work/verify.out" ||
  { cat "$work/verify.out"; fail "the installed vfu does not refuse a package signed with the development key"; }
vfu packages --program "$app" "$work/forged.vfw" >"$work/forged.out" || true
grep -qF '"version": "9.9.9"' "$work/forged.out" &&
  { cat "$work/forged.out"; fail "the installed programs accept a package signed with the development key"; }

echo "== manual pages"
for page in vfu quillbox-firmware-updater; do
  man -w "$page" || fail "no manual page for $page"
done
install_seconds=$((SECONDS - started))

echo "== purging"
apt_get purge "$package_name" >/dev/null
while read -r path; do
  [ ! -e "$path" ] || fail "$path is left after the purge"
done <"$work/owned"
[ -z "$(leftovers)" ] || fail "left after the purge: $(leftovers | tr '\n' ' ')"

size=$(stat -c %s "$deb")
installed_size=$(dpkg-deb -f "$deb" Installed-Size)
echo "Package: $(basename "$deb"), $size bytes, installed size $installed_size KiB"
echo "Package step $package_seconds s; install, run and purge $((SECONDS - started)) s (install and run $install_seconds s)"
echo "== the package passed"
