#!/usr/bin/env bash
# The Debian package made from this build tree, read back as a user's system
# would get it: its file list, its control fields, the desktop entry and
# metadata checked by their validators, the sample collection read by an
# independent dBase reader and by our own check, and the installed programs
# run once from the unpacked tree.
#   package-test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

build="$1"
source="$2"
version="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
  echo "package test: $*" >&2
  exit 1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
shopt -s nullglob
debs=("$work"/cpack/*.deb)
((${#debs[@]} == 1)) || fail "expected one package, got ${#debs[@]}"
deb="${debs[0]}"

# --- The files, where a Debian system looks for them.
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for path in \
  /usr/bin/klvcoin \
  /usr/bin/klvdbf \
  /usr/share/klvcoin/KLVCOIN.HLP \
  /usr/share/klvcoin/COUNTRY.LST \
  /usr/share/klvcoin/TOPIC.LST \
  /usr/share/klvcoin/CONDTION.LST \
  /usr/share/klvcoin/MISC.LST \
  /usr/share/klvcoin/SAMPLE.DBF \
  /usr/share/klvcoin/SAMPLE.MDX \
  /usr/share/applications/klvcoin.desktop \
  /usr/share/metainfo/org.kolvane.klvcoin.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/klvcoin.svg \
  /usr/share/icons/hicolor/16x16/apps/klvcoin.png \
  /usr/share/icons/hicolor/48x48/apps/klvcoin.png \
  /usr/share/icons/hicolor/256x256/apps/klvcoin.png \
  /usr/share/man/man1/klvcoin.1.gz \
  /usr/share/man/man1/klvdbf.1.gz; do
  grep -qx "$path" "$work/contents" || fail "$path is not in the package"
done
# Nothing of the build (tests, benchmarks, libraries, headers) goes along.
if grep -E '_tests$|_bench$|\.a$|/include/' "$work/contents"; then
  fail "build products in the package"
fi

# --- The control fields.
[[ "$(dpkg-deb -f "$deb" Package)" == "klvcoin" ]] || fail "package name"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] ||
  fail "version $(dpkg-deb -f "$deb" Version), the project's is $version"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libqt6widgets6 libqt6printsupport6; do
  [[ "$depends" == *"$lib "* ]] || fail "Depends has no $lib: $depends"
done

dpkg-deb -x "$deb" "$work/root"
usr="$work/root/usr"

# --- Desktop entry and AppStream metadata.
desktop-file-validate "$usr/share/applications/klvcoin.desktop" ||
  fail "desktop-file-validate refused the desktop entry"
appstreamcli validate --no-net "$usr/share/metainfo/org.kolvane.klvcoin.metainfo.xml" ||
  fail "appstreamcli refused the metadata"
grep -q "<release version=\"$version\"" "$usr/share/metainfo/org.kolvane.klvcoin.metainfo.xml" ||
  fail "the metadata does not name the release $version"

# --- The manual pages.
zcat "$usr/share/man/man1/klvcoin.1.gz" | grep -q '^\.TH KLVCOIN "1"' || fail "klvcoin.1 header"
zcat "$usr/share/man/man1/klvcoin.1.gz" | grep -q 'klvcoin \\- catalogue a coin collection' ||
  fail "klvcoin.1 has no NAME line"
zcat "$usr/share/man/man1/klvdbf.1.gz" | grep -q '^\.SH "EXIT STATUS"' || fail "klvdbf.1 sections"

# --- The sample collection: another dBase reader's view, then our check.
"$usr/bin/klvdbf" check "$usr/share/klvcoin/SAMPLE.DBF" >/dev/null ||
  fail "klvdbf check found problems in the sample"
/usr/bin/python3 - "$usr/share/klvcoin" <<'PY'
import datetime, sys
from dbfread import DBF

folder = sys.argv[1]
table = DBF(folder + "/SAMPLE.DBF", encoding="cp1252", char_decode_errors="strict")
names = ["COUNTRY", "FACEVALUE", "YEAR", "CONDITION", "MINTMARK", "PURCHASEPR",
         "MARKETVALU", "PREMIUMVAL", "TOPIC", "DESCRIPTIO", "PURCHDATE", "MISCELLANE",
         "QUANTITY", "COMMENT", "YEARAPPROX", "WANTED", "USERDEF1", "USERDEF2",
         "USERDEF3", "USERDEF4"]
assert [n.upper() for n in table.field_names] == names, table.field_names
rows = list(table)
problems = []
def need(ok, what):
    if not ok:
        problems.append(what)
def shipped(name):
    with open(folder + "/" + name, encoding="cp1252", newline="") as f:
        return set(f.read().split("\r\n"))
need(len(rows) >= 60, "%d coins, fewer than 60" % len(rows))
need(len({r["COUNTRY"] for r in rows}) >= 6, "fewer than six countries")
centuries = {int(r["YEAR"][:4]) // 100 for r in rows}
need(len(centuries) >= 2, "years of one century only")
wanted = [r for r in rows if r["WANTED"] == "Yes"]
need(3 <= len(wanted) < len(rows) // 2, "%d wanted coins" % len(wanted))
for r in rows:
    coin = "%s %s %s" % (r["COUNTRY"], r["FACEVALUE"], r["YEAR"])
    need(r["WANTED"] in ("Yes", "No") and r["YEARAPPROX"] in ("Yes", "No"), coin + ": Yes/No")
    need(r["CONDITION"] in shipped("CONDTION.LST"), coin + ": condition " + r["CONDITION"])
    need(r["TOPIC"] in shipped("TOPIC.LST"), coin + ": topic " + r["TOPIC"])
    need(r["COUNTRY"] in shipped("COUNTRY.LST"), coin + ": country")
    need(r["MARKETVALU"] > 0, coin + ": no market value")
    if r["WANTED"] == "Yes":
        need(r["QUANTITY"] == 0 and r["PURCHDATE"] is None, coin + ": wanted but owned")
    else:
        need(r["QUANTITY"] >= 1 and r["PURCHASEPR"] > 0, coin + ": owned without price")
        need(isinstance(r["PURCHDATE"], datetime.date)
             and datetime.date(1980, 1, 1) <= r["PURCHDATE"] <= datetime.date.today()
             and r["PURCHDATE"].year >= int(r["YEAR"][:4]), coin + ": purchase date")
if problems:
    sys.exit("sample collection: " + "; ".join(problems))
PY

# --- The installed programs, run from the unpacked tree.
[[ "$("$usr/bin/klvcoin" --version)" == "klvcoin $version" ]] || fail "klvcoin --version"
[[ "$("$usr/bin/klvdbf" --version)" == "klvdbf $version" ]] || fail "klvdbf --version"
# A first start with an empty program directory takes the default lists from
# ../share/klvcoin beside the program, and closes after its first paint.
home="$work/home"
windir="$work/windir"
mkdir -p "$home" "$windir"
printf '[Misc]\r\nShow Tips=No\r\n' >"$windir/KLVCOIN.INI"
KLVCOIN_HOME="$home" KLVCOIN_WINDIR="$windir" KLVCOIN_EXIT_AFTER_PAINT=1 QT_QPA_PLATFORM=offscreen \
  timeout 60 "$usr/bin/klvcoin" >"$work/start.log" 2>&1 ||
  { cat "$work/start.log" >&2; fail "the installed program did not start and close"; }
for name in MASTER.DBF COUNTRY.LST TOPIC.LST CONDTION.LST MISC.LST; do
  [[ -f "$home/$name" ]] || fail "the first start did not make $name in the program directory"
done
cmp -s "$home/COUNTRY.LST" "$source/data/COUNTRY.LST" || fail "COUNTRY.LST differs from ours"
echo "package test: $(basename "$deb") passed"
