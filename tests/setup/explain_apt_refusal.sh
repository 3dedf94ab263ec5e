#!/usr/bin/env bash
# scripts/explain-apt-refusal.sh on what apt really printed when it refused:
# a Multi-Arch: same library out of step between two architectures (a fresh
# machine's first make test, before the ARM lane stopped taking armel
# packages), and a package the lists do not have. The explanation must name
# the package, apt's reason and the fix; for the second, no multiarch advice.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
explain=$here/../../scripts/explain-apt-refusal.sh
failed=0 passed=0

expect() {  # NAME OUTPUT PATTERN [absent]
  if { [ "${4:-}" = absent ] && ! grep -qF -- "$3" <<<"$2"; } ||
     { [ "${4:-}" != absent ] && grep -qF -- "$3" <<<"$2"; }; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $1: expected ${4:-present}: $3" >&2
    echo "$2" | sed 's/^/  | /' >&2
  fi
}

out=$("$explain" "$here/multiarch_apt.txt" "$here/multiarch_resolver.txt")
expect multiarch "$out" "libstdc++6:armel needs libc6:armel (>= 2.36) but it is not going to be installed"
expect multiarch "$out" "libc6:armel is offered at 2.36-9+deb12u14 only, while libc6:amd64 is installed at 2.36-9+deb12u14"
expect multiarch "$out" "and its candidate is 2.36-9+deb12u15"
expect multiarch "$out" "name libc6:armel=2.36-9+deb12u14 on the same apt-get line"
expect multiarch "$out" "no such package" absent

out=$("$explain" "$here/missing_apt.txt")
expect missing "$out" "nosuchpackage-xyz: no such package in this machine's package lists"
expect missing "$out" "Multi-Arch" absent

# Without the resolver's steps the unmet dependencies are still named.
out=$("$explain" "$here/multiarch_apt.txt")
expect no_resolver "$out" "libgcc-s1:armel needs libc6:armel (>= 2.34)"
expect no_resolver "$out" "Multi-Arch" absent

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
