#!/usr/bin/env bash
# Installs the desktop component into a fresh prefix (whose path holds a space, as a home folder
# may) and checks what landed there: every file in its XDG place and nothing else, icon sizes that
# match their folders, menu entries that pass the validator and name the installed programs, and a
# MIME database built from our types that recognises the sample movie by its contents.
# Usage: desktop_files_test.sh BUILD_DIR TEST_DATA_DIR. Exit 77 (skipped) when a tool is missing.
set -uo pipefail
build=$1
data=$2

for tool in desktop-file-validate xmllint update-mime-database gio; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps)"; exit 77; }
done

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/install root"
cmake --install "$build" --component desktop --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

expected=(share/applications/tamrin.desktop share/applications/tabulor.desktop share/mime/packages/tamrin.xml)
for program in tamrin tabulor; do
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$program.png")
  done
  expected+=("share/icons/hicolor/scalable/apps/$program.svg")
done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
installed=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
extra=$(comm -23 <(echo "$installed") <(echo "$wanted"))
[ -z "$extra" ] || fail "installed but not expected: $extra"

# A PNG's width and height are the big-endian words at 16 and 20; both must match the folder.
for f in "$prefix"/share/icons/hicolor/*x*/apps/*.png; do
  size=$(basename "$(dirname "$(dirname "$f")")")
  read -r w h < <(od -An -tu1 -j16 -N8 "$f" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$f is not a PNG"
  [ "${w}x${h}" = "$size" ] || fail "$f is ${w}x${h}, in the $size folder"
done
for f in "$prefix"/share/icons/hicolor/scalable/apps/*.svg; do
  xmllint --noout "$f" || fail "$f is not well-formed"
done

for program in tamrin tabulor; do
  entry="$prefix/share/applications/$program.desktop"
  out=$(desktop-file-validate "$entry" 2>&1) || fail "$program.desktop rejected: $out"
  [ -z "$out" ] || fail "$program.desktop: $out"
  # The prefix holds a space: the program must be quoted in Exec, plain in TryExec.
  grep -qxF "Exec=\"$prefix/$program\" %F" "$entry" || fail "$program.desktop Exec: $(grep ^Exec= "$entry")"
  grep -qxF "TryExec=$prefix/$program" "$entry" || fail "$program.desktop TryExec: $(grep ^TryExec= "$entry")"
  grep -qx "Icon=$program" "$entry" || fail "$program.desktop has no icon of its own"
done
grep -q '^MimeType=.*application/x-cdaz;' "$prefix/share/applications/tabulor.desktop" ||
  fail "tabulor does not open .cdaz files"
grep -q '^MimeType=.*application/x-cdaz' "$prefix/share/applications/tamrin.desktop" &&
  fail "tamrin claims .cdaz files, which belong to the editor"
for type in video/x-str video/x-cstr; do
  grep -q "^MimeType=.*$type;" "$prefix/share/applications/tamrin.desktop" || fail "tamrin does not open $type"
done

# A package build stages the files under DESTDIR; the entries still name the final place.
outside=absent
[ -e /opt/tamrin/share/applications/tamrin.desktop ] && outside=present
DESTDIR="$work/stage" cmake --install "$build" --component desktop --prefix /opt/tamrin >"$work/stage.log" ||
  fail "cmake --install with DESTDIR: $(cat "$work/stage.log")"
staged="$work/stage/opt/tamrin/share/applications/tamrin.desktop"
if [ -f "$staged" ]; then
  grep -qxF "Exec=/opt/tamrin/tamrin %F" "$staged" || fail "staged Exec: $(grep ^Exec= "$staged")"
  out=$(desktop-file-validate "$staged" 2>&1) && [ -z "$out" ] || fail "staged tamrin.desktop rejected: $out"
else
  fail "DESTDIR install did not stage tamrin.desktop"
fi
[ "$outside" = absent ] && [ -e /opt/tamrin/share/applications/tamrin.desktop ] &&
  fail "DESTDIR install wrote outside the stage"

mime="$prefix/share/mime"
mkdir -p "$work/data-home"
xmllint --noout "$mime/packages/tamrin.xml" || fail "tamrin.xml is not well-formed"
XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$work/data-home" update-mime-database "$mime" 2>"$work/umd.log" || fail "update-mime-database: $(cat "$work/umd.log")"
[ -s "$work/umd.log" ] && fail "update-mime-database complained: $(cat "$work/umd.log")"

# Content types as a desktop sees them, from our database alone.
samples="$work/samples"
mkdir -p "$samples"
cp "$data/movies/mv1_v2_320x240_15fps_xa37800s.str" "$samples/movie-by-content"
cp "$data/movies/mv1_v2_320x240_15fps_xa37800s.str" "$samples/movie.str"
cp "$data/references/xa1_37800_stereo.wav" "$samples/wave-no-extension"
printf '\xc2\x0c\xb7\x04\x03' >"$samples/compact-by-content"
head -c 200 /dev/zero >>"$samples/compact-by-content"
printf '\xc2\x0c\xb7\x04\x04' >"$samples/compact-version-4"
head -c 200 /dev/zero >>"$samples/compact-version-4"
printf 'junk' >"$samples/any.cstr"
printf '\x05\x00' >"$samples/disc.cdaz"
check_type() {
  local file=$1 want=$2 got
  got=$(XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$work/data-home" \
    gio info -a standard::content-type "$samples/$file" | sed -n 's/^ *standard::content-type: //p')
  [ "$got" = "$want" ] || fail "$file: content type '$got', expected '$want'"
}
check_type movie-by-content video/x-str
check_type movie.str video/x-str
check_type compact-by-content video/x-cstr
check_type any.cstr video/x-cstr
check_type disc.cdaz application/x-cdaz
# A compact movie as our own converter writes it, when the command-line tool is built.
cli="$build/out/tamrin-cli"
if [ -x "$cli" ]; then
  TAMRIN_HOME="$work/home" "$cli" convert --to cstr --out "$samples/converted-movie" \
    "$data/movies/mv4_v3_160x112_15fps_x1_xa37800s.str" >"$work/convert.log" 2>&1 ||
    fail "tamrin-cli convert --to cstr: $(cat "$work/convert.log")"
  check_type converted-movie video/x-cstr
else
  echo "note: $cli is not built; the converter's own compact movie is not checked"
fi
# A RIFF file of another form and a compact movie of a version no reader takes are not ours.
for f in wave-no-extension compact-version-4; do
  got=$(XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$work/data-home" \
    gio info -a standard::content-type "$samples/$f" | sed -n 's/^ *standard::content-type: //p')
  case "$got" in video/x-str | video/x-cstr) fail "$f taken as $got" ;; esac
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "desktop files: ${#expected[@]} installed and checked"
