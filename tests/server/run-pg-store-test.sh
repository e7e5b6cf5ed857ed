#!/usr/bin/env bash
# Runs the store tests against PostgreSQL 15 in a throwaway cluster (pg_virtualenv from
# postgresql-common), reached through libpq's PG* environment on 127.0.0.1.
# Usage: run-pg-store-test.sh PATH/TO/tst_serverstore
set -euo pipefail
test_binary=$1
if ! command -v pg_virtualenv >/dev/null; then
  echo "run-pg-store-test: pg_virtualenv not found (scripts/setup.sh installs postgresql-common)" >&2
  exit 1
fi
# pg_virtualenv sets PGHOST=localhost; pin the address so that nothing but 127.0.0.1 is used.
exec pg_virtualenv -v 15 env PGHOST=127.0.0.1 TILEPARLOR_TEST_DATABASE=postgresql: "$test_binary"
