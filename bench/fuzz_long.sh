#!/usr/bin/env bash
# Runs every fuzz target for at least ten million executions.
exec "$(dirname "$0")/../tools/run-fuzzers.sh" 0 "${1:-10000000}"
