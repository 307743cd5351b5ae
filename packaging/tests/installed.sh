#!/usr/bin/env bash
# The library as a host developer gets it: installs the build tree into a
# fresh prefix and builds and runs hosts against the installed files alone (a
# C host through pkg-config, a CMake host through find_package, the ru3 tool,
# the Python package installed with pip, the examples); then makes the Debian
# packages, checks their contents and dependencies, unpacks them and does the
# same against the unpacked tree. Everything measures the simulator.
#   installed.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checks=0
fail() { echo "FAILED: $*" >&2; exit 1; }
pass() { checks=$((checks + 1)); echo "ok: $*"; }
python=/usr/bin/python3  # Debian's, with Debian's numpy, matplotlib and pytest
export RU3_SIMULATOR='ch1=sine,1.5,1000;ch2=square,0.5,250'
export PYTHONDONTWRITEBYTECODE=1  # nothing written into the checkout
unset RU3_LIBRARY

# The block-style example's report of the simulator's signals.
check_block_capture() {  # what, command...
  local what=$1 out
  shift
  out=$("$@")
  grep -q '^channel 1 (range 2 V): min -1.5000 V, max 1.5000 V' <<<"$out" || fail "$what: $out"
  grep -q '^channel 2 (range 0.8 V): min -0.5000 V, max 0.5000 V' <<<"$out" || fail "$what: $out"
  pass "$what measures the simulator's signals"
}

check_tree() {  # prefix libdir
  local prefix=$1 libdir=$2 f
  for f in "$libdir/libru3.so.1" "$libdir/libru3.so" include/ru3/ru3.h "$libdir/pkgconfig/ru3.pc" \
           "$libdir/cmake/ru3/ru3Config.cmake" "$libdir/cmake/ru3/ru3Targets.cmake" bin/ru3 \
           share/man/man1/ru3.1 share/bash-completion/completions/ru3 share/doc/ru3/examples/block_capture.c share/doc/ru3/SCPI.md; do
    [ -e "$prefix/$f" ] || fail "$prefix/$f is missing"
  done
  [ "$(readlink "$prefix/$libdir/libru3.so")" = libru3.so.1 ] || fail "libru3.so does not link to the soname"
  local runpath
  runpath=$(readelf -d "$prefix/bin/ru3" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [ "$runpath" = "\$ORIGIN/../lib" ] || fail "ru3's RUNPATH is '$runpath', not \$ORIGIN/../lib"
  pass "$prefix holds the library, header, pkg-config and CMake files, tool, man page, completion (RUNPATH $runpath)"
  env -u LD_LIBRARY_PATH "$prefix/bin/ru3" --simulate info | grep -q '^serial number *10001' || fail "installed ru3 info"
  pass "the installed ru3 finds its library in the prefix"
}

check_pkg_config_host() {  # prefix libdir name
  local prefix=$1 libdir=$2 name=$3 flags
  flags=$(PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" pkg-config --cflags --libs ru3)
  case "$flags" in *"$prefix"*) ;; *) fail "pkg-config flags '$flags' do not point into $prefix" ;; esac
  cc -std=c11 -Wall -Wextra -Werror "$source_dir/examples/block_capture.c" $flags -lm -o "$work/$name"
  check_block_capture "a C host built with pkg-config --cflags --libs ru3 ($name)" \
    env LD_LIBRARY_PATH="$prefix/$libdir" "$work/$name"
  # The example's own build line for a prefix, as written in it: it runs
  # without LD_LIBRARY_PATH.
  local line
  line=$(sed -n 's/^ \*   \(cc block_capture\.c .*-rpath.*\)$/\1/p' "$source_dir/examples/block_capture.c")
  [ -n "$line" ] || fail "examples/block_capture.c documents no build line for a prefix"
  (cd "$work" && cp "$source_dir/examples/block_capture.c" . && PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig" eval "$line" &&
    mv block_capture "$name-rpath") || fail "the documented build line failed: $line"
  check_block_capture "the example built as its comment says ($name)" env -u LD_LIBRARY_PATH "$work/$name-rpath"
}

# ---- cmake --install into a prefix ---------------------------------------
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
check_tree "$prefix" lib
check_pkg_config_host "$prefix" lib pkg_config_host

cmake -S "$source_dir/packaging/tests/cmake_host" -B "$work/cmake_host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DRU3_EXAMPLES="$source_dir/examples" >/dev/null
cmake --build "$work/cmake_host" >/dev/null
check_block_capture "a CMake host built with find_package(ru3) and ru3::ru3" "$work/cmake_host/block_capture"

man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/ru3.1" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "ru3(1) formats with warnings: $man_warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$prefix/share/man/man1/ru3.1" 2>/dev/null | grep -q '^ *serve  *Serve the instrument' ||
  fail "ru3(1) does not describe serve"
pass "ru3(1) formats without warnings"
completion=$(bash -c 'source "$1"; COMP_WORDS=(ru3 capture --tr); COMP_CWORD=2; _ru3; echo "${COMPREPLY[*]}"' _ \
  "$prefix/share/bash-completion/completions/ru3")
[ "$completion" = --trigger ] || fail "bash completion of 'ru3 capture --tr' gave '$completion'"
pass "bash completion completes ru3's options"

# ---- the Python package, installed with pip into a fresh environment -----
"$python" -m venv --system-site-packages --without-pip "$work/venv"
cp -r "$source_dir/python" "$work/python"  # pip builds in the tree it installs from
"$work/venv/bin/python" -m pip install --quiet --no-build-isolation --no-deps --no-index "$work/python"
rm -rf "$work/python"
export LD_LIBRARY_PATH="$prefix/lib"  # the installed library, loaded by its soname
(cd "$work" && "$work/venv/bin/python" -c 'import ru3; assert "site-packages" in ru3.__file__, ru3.__file__')
(cd "$work" && "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$source_dir/python/tests") >"$work/pytest.log" ||
  { cat "$work/pytest.log"; fail "the pip-installed Python package's tests"; }
pass "the pip-installed Python package passes its tests on the installed library: $(tail -1 "$work/pytest.log")"
(cd "$work" && "$work/venv/bin/python" "$source_dir/examples/plot_capture.py" "$work/plot.png") >/dev/null
[ "$(head -c 8 "$work/plot.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "plot_capture.py wrote no PNG"
pass "examples/plot_capture.py captures and plots with matplotlib"
unset LD_LIBRARY_PATH

# ---- Debian packages ---------------------------------------------------------
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
debs=("$work"/debs/*.deb)
[ ${#debs[@]} -eq 3 ] || fail "expected three packages, got: ${debs[*]}"
field() { dpkg-deb -f "$work/debs/$1"_*.deb "$2"; }
version=$(field libru3-1 Version)
[[ "$(field libru3-1 Depends)" == *libieee1284-3* ]] || fail "libru3-1 does not depend on libieee1284-3"
[[ "$(field libru3-dev Depends)" == *"libru3-1 (= $version)"* ]] || fail "libru3-dev: $(field libru3-dev Depends)"
[[ "$(field ru3-tools Depends)" == *"libru3-1 (= $version)"*libcairo2* ||
   "$(field ru3-tools Depends)" == *libcairo2*"libru3-1 (= $version)"* ]] || fail "ru3-tools: $(field ru3-tools Depends)"
dpkg-deb -c "$work/debs/libru3-1"_*.deb | grep -q '/libru3\.so$' && fail "libru3-1 carries the development link"
pass "libru3-1, libru3-dev and ru3-tools $version, with their dependencies"
apt-get install --simulate -qq "${debs[@]}" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get cannot install them"; }
pass "apt-get can install the three packages (dependencies resolve)"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$work/root"; done
check_tree "$work/root/usr" lib
check_pkg_config_host "$work/root/usr" lib deb_host

echo "installed files: all $checks checks passed"
