#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets: each installed
# program's --help, its manual page (renders without a warning), the desktop entries (valid, with
# an icon, opening every video type the clip dialog lists) and the sample clip; then makes the
# Debian package and checks its metadata: named, with the files, and depending on the package of
# every library the programs link against.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
programs=(seekmark framewise seekprobe)
for p in "${programs[@]}"; do
  help=$(env -u DISPLAY "$prefix/bin/$p" --help) || fail "$p --help exited with $?"
  grep -qi "^usage: $p" <<<"$help" || fail "$p --help printed: $help"
  page=$prefix/share/man/man1/$p.1.gz
  zcat "$page" | grep -q "^$p \\\\- " || fail "$page has no NAME line"
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1) || fail "$page: $warnings"
  [ -z "$warnings" ] || fail "$page: $warnings"
done
[ -s "$prefix/share/seekmark/sample.mp4" ] || fail "no sample clip"

# The dialog's suffixes as the desktop knows them (shared-mime-info); a suffix without a video type
# there (.y4m) cannot be asked for.
suffixes=$(grep -o '\*\.[a-z0-9]*' "$source/platform/clipdialog.cpp" | sed 's/^\*\.//' | sort -u)
for p in seekmark framewise; do
  entry=$prefix/share/applications/$p.desktop
  desktop-file-validate "$entry" || fail "$entry is not valid"
  [ -s "$prefix/share/icons/hicolor/scalable/apps/$p.svg" ] || fail "no icon for $p"
  types=";$(sed -n 's/^MimeType=//p' "$entry")"
  for s in $suffixes; do
    for type in $(awk -F: -v g="*.$s" '$3 == g && ($2 ~ /^video\// || $2 == "application/mxf") { print $2 }' /usr/share/mime/globs2); do
      [[ "$types" == *";$type;"* ]] || fail "$p.desktop does not open .$s ($type)"
    done
  done
done

(cd "$tmp" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/package" >/dev/null) || fail "cpack failed"
deb=$(ls "$tmp"/package/*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = seekmark ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
contents=$(dpkg-deb -c "$deb")
for path in "${programs[@]/#/./usr/bin/}" ./usr/share/applications/seekmark.desktop ./usr/share/man/man1/seekprobe.1.gz \
    ./usr/share/seekmark/sample.mp4; do
  grep -q " $path\$" <<<"$contents" || fail "$path is not in the package"
done
depends=", $(dpkg-deb -f "$deb" Depends),"
[[ "$depends" == *", qt6-qpa-plugins,"* ]] || fail "Depends lacks qt6-qpa-plugins: $depends"
# The package of every library the programs name (one dpkg query: it reads its whole database).
libraries=$(for p in "${programs[@]}"; do objdump -p "$prefix/bin/$p" | awk '/NEEDED/ { print $2 }'; done | sort -u)
paths=$(for l in $libraries; do ldconfig -p | awk -v l="$l" '$1 == l && !found { print $NF; found = 1 }'; done)
owners=$(dpkg -S $paths ${paths//\/lib\//\/usr\/lib\/} 2>/dev/null || true)
for library in $libraries; do
  package=$(awk -v l="/$library" 'index($0, l) == length($0) - length(l) + 1 { sub(/:.*/, ""); print; exit }' <<<"$owners")
  [ -n "$package" ] || fail "no package has $library"
  [[ "$depends" == *", $package "* || "$depends" == *", $package,"* ]] || fail "Depends lacks $package ($library): $depends"
done
echo "installed into $prefix and packaged $(basename "$deb"): Depends:${depends%,}"
