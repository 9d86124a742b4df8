#!/bin/sh
# Renders the diagrams of docs/ (every docs/*.dot to the .svg beside it) with
# Graphviz, installing it first when it is missing. Run it after changing a
# diagram's source and commit both files.
set -eu
cd "$(dirname "$0")/.."
command -v dot >/dev/null 2>&1 || ./scripts/setup-deps.sh graphviz
for src in docs/*.dot; do
    out=${src%.dot}.svg
    dot -Tsvg "$src" -o "$out.tmp"
    mv "$out.tmp" "$out"
    echo "render-docs: $out"
done
