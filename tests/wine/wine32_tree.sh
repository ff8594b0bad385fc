#!/usr/bin/env bash
# Prints the folder of a 32-bit (i386) Debian tree with Wine, making it first when it is not
# there yet. 32-bit Windows programs need a 32-bit Wine, and installing Debian's wine32:i386 on
# the host breaks the host's launcher for 64-bit programs, so the tree is kept apart and entered
# with chroot (see run_wine_e2e.sh). The host gets no i386 package and no new architecture.
#
#   wine32_tree.sh             the tree's folder on stdout (ORVCARD_WINE32_TREE, or
#                              /var/cache/orvcard/wine32-bookworm); progress on stderr
#   wine32_tree.sh --resolve   makes nothing: only resolves the tree's packages against the
#                              archive (what can be checked where i386 programs cannot run)
#
# Needs root, mmdebstrap and arch-test (Debian's packages; tools/deps.sh installs them), and a
# kernel that runs i386 programs (`arch-test i386`). Making the tree takes about a minute and
# about 900 MB; a tree made once is reused.
set -euo pipefail

TREE=${ORVCARD_WINE32_TREE:-/var/cache/orvcard/wine32-bookworm}
READY=$TREE/.orvcard-ready
MMDEBSTRAP=(mmdebstrap --quiet --arch=i386 --variant=apt "--include=wine,wine32" bookworm)

# Says in one line what making the tree needs and this machine lacks.
check_needs() {
  local missing=() tool
  [[ $(id -u) -eq 0 ]] || missing+=(root)
  for tool in mmdebstrap arch-test; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [[ ${#missing[@]} -gt 0 ]]; then
    echo "error: the 32-bit Wine tree needs root, mmdebstrap and arch-test; missing here: ${missing[*]} (tools/deps.sh windows installs the packages)" >&2
    exit 2
  fi
}

if [[ ${1:-} == --resolve ]]; then
  check_needs
  echo "resolving the 32-bit Wine tree's packages (mmdebstrap --simulate)" >&2
  "${MMDEBSTRAP[@]}" --simulate --skip=check/qemu /dev/null >&2
  exit
fi
if [[ ! -f $READY ]]; then
  check_needs
  echo "making the 32-bit Wine tree in $TREE (about a minute, once)" >&2
  rm -rf "$TREE.partial"
  mkdir -p "$(dirname "$TREE")"
  "${MMDEBSTRAP[@]}" "$TREE.partial" >&2
  rm -rf "$TREE"
  mv "$TREE.partial" "$TREE"
  touch "$READY"
fi
echo "$TREE"
