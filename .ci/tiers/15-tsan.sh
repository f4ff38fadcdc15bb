#!/usr/bin/env bash
# ThreadSanitizer: the threaded tests (concurrent callers in threads and a
# second process, children started while every operation runs).
set -euo pipefail
scripts/test.sh --tsan
