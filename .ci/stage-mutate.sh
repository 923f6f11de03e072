#!/usr/bin/env bash
# Mutation stage: every bug in tools/mutants.txt must make the plain suite fail. Needs the ci
# build that tools/test leaves behind; rebuilds it incrementally for each mutant.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/mutate
