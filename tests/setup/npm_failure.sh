#!/usr/bin/env bash
# scripts/setup's fetch (--fetch, as debian/rules runs it) when npm cannot fetch the NDI files
# (here: no network at all, inside scripts/ns-run): it stops with status 1, shows npm's own message and says what to check,
# and leaves no .deps behind. Runs a copy of the scripts in a scratch checkout.
set -euo pipefail
source=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/scripts"
cp "$source"/scripts/{setup,lib.sh} "$scratch/scripts/"
rc=0
# An empty npm cache: npm would otherwise serve the files from its own.
npm_config_cache=$scratch/npm-cache npm_config_fetch_retries=0 "$scratch/scripts/setup" --fetch >"$scratch/out" 2>"$scratch/err" || rc=$?
cat "$scratch/err"
fail() { echo "FAIL: $1" >&2; exit 1; }
[ $rc -eq 1 ] || fail "status $rc, not 1"
grep -q '^setup: npm pack .* failed:$' "$scratch/err" || fail "no line naming the failed fetch"
# npm's own words, indented, between that line and the hint.
sed -n '/failed:$/,/^setup: check/p' "$scratch/err" | grep -q '^  npm' || fail "npm's message missing"
grep -q '^setup: check the network' "$scratch/err" || fail "no line on what to check"
[ ! -e "$scratch/.deps" ] || [ -z "$(ls -A "$scratch/.deps")" ] || fail ".deps left behind"
echo "PASS"
