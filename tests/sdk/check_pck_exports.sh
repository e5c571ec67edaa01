#!/bin/sh
# Fails unless the package $1 exports exactly DAXOPckInit and
# DAXOGetModulesDefStruct. Exit status 77 (skipped) when nm is missing.
set -eu
package="$1"
if ! command -v nm >/dev/null 2>&1; then
  echo "nm not found: skipped"
  exit 77
fi
exports=$(nm -D --defined-only "$package" | awk 'NF { print $NF }' | sort | tr '\n' ' ')
if [ "$exports" != "DAXOGetModulesDefStruct DAXOPckInit " ]; then
  echo "unexpected exports of $package: $exports"
  exit 1
fi
