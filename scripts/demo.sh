#!/usr/bin/env bash
# Sets everything up, then runs the kestrel command on the bundled demo file.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
exec "${KESTREL_VENV:-$root/.venv}/bin/kestrel" "$@"
