#!/bin/sh
# check-exports.sh LIBRARY NAME...: the library's dynamic symbol table defines exactly these names.
library=$1
shift
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort | tr '\n' ' ')
expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
if [ "$actual" != "$expected" ]; then
    echo "exported: $actual"
    echo "expected: $expected"
    exit 1
fi
echo "exported exactly: $actual"
