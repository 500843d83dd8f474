#!/usr/bin/env bash
# Builds the Debian package build/package/quillora_<version>_amd64.deb and checks it with lintian,
# desktop-file-validate and appstreamcli. Install it with: sudo apt-get install ./build/package/quillora_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh dpkg-dev fakeroot file lintian help2man desktop-file-utils appstream man-db systemd curl
out=build/package

cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUILLORA_WERROR=ON \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$out" --parallel "$(nproc)"
rm -f "$out"/quillora_*.deb
(cd "$out" && cpack -G DEB >/dev/null)
deb=$(ls "$out"/quillora_*_amd64.deb)

echo "== Checking $deb"
lintian --fail-on error --suppress-tags-from-file scripts/package/lintian-accepted "$deb"
contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
desktop-file-validate "$contents"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
# Each of the three examples of the manual page is a paragraph of its own, as in --help: in its
# EXAMPLES section every text line follows a paragraph macro.
if ! zcat "$contents"/usr/share/man/man1/quillora-send.1.gz | awk '
    /^\.SH EXAMPLES/ { inside = 1; next }
    /^\.SH/ { inside = 0 }
    inside && !/^\./ { examples++; if (previous !~ /^\.(IP|PP|TP)/) joined = 1 }
    inside { previous = $0 }
    END { exit !(examples == 3 && !joined) }'; then
    echo "the manual page does not show the three examples of --help one to a paragraph" >&2
    exit 1
fi
# The installed copy documents itself: each program has its page, with the sections a reader
# looks for, each page renders without a warning, and the guide lies beside the copyright.
for file in usr/bin/quillora usr/bin/quillora-send usr/bin/quillora-receiver-sim \
    usr/bin/quillora-relay lib/systemd/system/quillora-relay.service etc/quillora/relay.ini \
    usr/share/doc/quillora/README.md usr/share/doc/quillora/copyright \
    usr/share/doc/quillora/changelog.gz; do
    [ -f "$contents/$file" ] || { echo "the package lacks /$file" >&2; exit 1; }
done
for program in quillora quillora-send quillora-receiver-sim quillora-relay; do
    page=$contents/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || { echo "the package lacks the manual page of $program" >&2; exit 1; }
    for section in NAME SYNOPSIS DESCRIPTION 'EXIT STATUS' EXAMPLES 'SEE ALSO'; do
        zcat "$page" | grep -Eq "^\.SH \"?$section\"?$" \
            || { echo "the manual page of $program lacks $section" >&2; exit 1; }
    done
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "the manual page of $program: $warnings" >&2; exit 1; }
done
for program in quillora quillora-send; do
    for section in FILES ENVIRONMENT; do
        zcat "$contents/usr/share/man/man1/$program.1.gz" | grep -Eq "^\.SH $section$" \
            || { echo "the manual page of $program lacks $section" >&2; exit 1; }
    done
done
[ "$(stat -c %a "$contents/etc/quillora/relay.ini")" = 600 ] \
    || { echo "/etc/quillora/relay.ini is not root's alone" >&2; exit 1; }
dpkg-deb -I "$deb" conffiles | grep -qx /etc/quillora/relay.ini \
    || { echo "/etc/quillora/relay.ini is no conffile" >&2; exit 1; }
if [ "${QUILLORA_SERVICE_CHECK:-}" = 1 ]; then
    echo "== The relay's service, installed (QUILLORA_SERVICE_CHECK=1)"
    scripts/package/service-check.sh "$deb"
fi
echo "Package: $PWD/$deb"
