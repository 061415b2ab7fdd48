# Sourced by the script suites: a scratch folder to work in, removed on exit,
# and a count of failures that the suite's last line turns into its status.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
