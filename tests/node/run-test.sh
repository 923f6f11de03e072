#!/usr/bin/env bash
# Runs the node-uci client test; installs the pinned packages first if they are missing.
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "node or npm is not installed: skipping the node-uci client test"
    exit 77
fi
if [ ! -d node_modules/node-uci ]; then
    npm ci --no-audit --no-fund
fi
exec node --test kestrowan.test.js
