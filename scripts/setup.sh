#!/usr/bin/env bash
# Prepares a machine for building and testing: Debian packages, a CPython 3.13
# virtual environment in .venv/ and the Python tools. Idempotent: a second run
# only checks and says so.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf 'setup: %s\n' "$*"; }

packages=(g++ cmake ninja-build make pkg-config
          libspdlog-dev libfmt-dev libeigen3-dev libgtest-dev libbenchmark-dev
          clang clang-format libclang-rt-dev valgrind)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    say "installing Debian packages: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
else
    say "Debian packages present"
fi

find_python() {
    local c
    for c in "${PYTHON313:-}" "$HOME"/.pyenv/versions/3.13*/bin/python3.13 \
             /usr/bin/python3.13 /usr/local/bin/python3.13; do
        [[ -n $c && -x $c ]] || continue
        if "$c" -c 'import sys, venv; sys.exit(sys.version_info[:2] != (3, 13))' 2>/dev/null; then
            echo "$c"
            return 0
        fi
    done
    return 1
}

if [[ ! -x .venv/bin/python ]] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
    if ! py=$(find_python); then
        echo "setup: no CPython 3.13 found; looked for \$PYTHON313, ~/.pyenv/versions/3.13*/bin/python3.13, /usr/bin/python3.13 and /usr/local/bin/python3.13" >&2
        exit 1
    fi
    # Debian's own interpreter keeps its headers and venv support in separate packages.
    if [[ $py == /usr/bin/python3.13 ]]; then
        for p in python3.13-dev python3.13-venv; do
            if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
                say "installing $p"
                apt-get update -qq
                DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null
            fi
        done
    fi
    say "creating .venv with $py"
    rm -rf .venv
    "$py" -m venv .venv
fi

# The tools the build and tests need, pinned where behaviour depends on them.
requirements=(pip "scikit-build-core>=0.10" "pybind11==2.13.6" numpy "pytest>=8" "mypy>=1.10")
stamp=.venv/.requirements
if [[ ! -f $stamp ]] || [[ "$(cat "$stamp")" != "${requirements[*]}" ]]; then
    say "installing Python tools into .venv: ${requirements[*]}"
    .venv/bin/python -m pip install -q --upgrade "${requirements[@]}"
    printf '%s' "${requirements[*]}" > "$stamp"
else
    say "Python tools present in .venv"
fi
