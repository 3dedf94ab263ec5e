#!/usr/bin/env bash
# Says why apt-get refused to install packages, from what it printed: which
# package could not be installed and apt's reason, then what to try. apt's
# own last line ("you have held broken packages") rarely names the cause.
#
#   scripts/explain-apt-refusal.sh APT_OUTPUT [RESOLVER_OUTPUT]
#
# APT_OUTPUT is what `apt-get install` printed. RESOLVER_OUTPUT, where
# given, is what `apt-get install -s -o Debug::pkgDepCache::Marker=1` with
# the same packages printed: the resolver's steps, which say why it left out
# a dependency. Writes to standard output; always exits 0.
set -uo pipefail
apt_output=$1
resolver_output=${2:-/dev/null}

echo "apt-get refused to install the packages. What it said:"

# Packages Debian's lists do not have at all.
missing=$(sed -n 's/^E: Unable to locate package \(.*\)$/\1/p' "$apt_output" | sort -u)
for p in $missing; do
  echo "  $p: no such package in this machine's package lists"
done

# Unmet dependencies: " pkg : Depends: dep (...) but it is not going to be installed".
sed -n 's/^ *\([^ ]*\) : \(Depends\|PreDepends\|Breaks\|Conflicts\): \(.*\)$/  \1 needs \3/p;
         s/^ *\(Depends\|PreDepends\|Breaks\|Conflicts\): \(.*\)$/      and \2/p' "$apt_output"

# The resolver's reason for leaving a dependency out: a Multi-Arch: same
# library must be the same version on every architecture.
out_of_sync=$(sed -n 's/.*Ignore MarkInstall of \([^ ]*\) < [^|]*| \([^ ]*\) .* as it is not in sync with its M-A:same sibling \([^ ]*\) < \([^ ]*\) | \([^ ]*\) .*/\1 \2 \3 \4 \5/p' \
  "$resolver_output" | sort -u)
if [ -n "$out_of_sync" ]; then
  echo
  echo "Why: a Multi-Arch: same library must be installed at one version for every"
  echo "architecture, and the archive does not offer the same version for both:"
  while read -r pkg offered sibling installed candidate; do
    echo "  $pkg is offered at $offered only, while $sibling is installed at $installed"
    echo "  and its candidate is $candidate, so apt will not install $pkg."
  done <<<"$out_of_sync"
fi

held=$(apt-mark showhold 2>/dev/null)
if [ -n "$held" ]; then
  echo
  echo "Packages held on this machine (apt-mark showhold): $held"
fi

echo
echo "What to try:"
echo "  - apt-get update, then run this again: the package lists may be old."
if [ -n "$missing" ]; then
  echo "  - check that /etc/apt/sources.list (or sources.list.d) names Debian 12's main archive."
fi
if [ -n "$out_of_sync" ]; then
  while read -r pkg offered sibling installed candidate; do
    if [ "$offered" = "$installed" ]; then
      echo "  - name $pkg=$offered on the same apt-get line, to match the installed $sibling;"
    else
      echo "  - upgrade $sibling to $offered, or wait until the archive offers $pkg at $candidate;"
    fi
  done <<<"$out_of_sync"
  echo "    or wait until the archive serves the same version for both architectures."
fi
echo "  - apt-cache policy PACKAGE shows each version apt can see and where it comes from."
exit 0
