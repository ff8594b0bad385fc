#!/usr/bin/env bash
# Prints the folder of a 32-bit (i386) Debian tree with Wine, making it first when it is not
# there yet. 32-bit Windows programs need a 32-bit Wine, and installing Debian's wine32:i386 on
# the host breaks the host's launcher for 64-bit programs, so the tree is kept apart and entered
# with chroot (see run_wine_e2e.sh). The host gets no i386 package and no new architecture.
#
#   wine32_tree.sh        the tree's folder on stdout (ORVCARD_WINE32_TREE, or
#                         /var/cache/orvcard/wine32-bookworm); progress on stderr
#
# Needs root and mmdebstrap (Debian's package). Making the tree takes about a minute and
# about 900 MB; a tree made once is reused.
set -euo pipefail

TREE=${ORVCARD_WINE32_TREE:-/var/cache/orvcard/wine32-bookworm}
READY=$TREE/.orvcard-ready

if [[ ! -f $READY ]]; then
  command -v mmdebstrap >/dev/null || { echo "error: mmdebstrap is needed" >&2; exit 2; }
  echo "making the 32-bit Wine tree in $TREE (about a minute, once)" >&2
  rm -rf "$TREE.partial"
  mkdir -p "$(dirname "$TREE")"
  mmdebstrap --quiet --arch=i386 --variant=apt --include=wine,wine32 bookworm "$TREE.partial" >&2
  rm -rf "$TREE"
  mv "$TREE.partial" "$TREE"
  touch "$READY"
fi
echo "$TREE"
