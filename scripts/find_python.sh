#!/usr/bin/env bash
# find_python.sh VERSION: prints the path of a CPython VERSION (3.11, 3.13, ...)
# interpreter on this machine, from the PATH, pyenv or the usual places; exits 1
# when there is none.
set -uo pipefail
want="$1"
is_wanted() {
  [ -n "$1" ] && "$1" -c "import sys; sys.exit('%d.%d' % sys.version_info[:2] != '$want')" >/dev/null 2>&1
}
candidates=("python$want")
if command -v pyenv >/dev/null 2>&1; then
  candidates+=("$(pyenv root)"/versions/"$want".*/bin/python"$want")
fi
candidates+=("$HOME"/.pyenv/versions/"$want".*/bin/python"$want" /usr/local/bin/python"$want" /usr/bin/python"$want")
for c in "${candidates[@]}"; do
  if is_wanted "$c"; then
    command -v "$c"
    exit 0
  fi
done
exit 1
