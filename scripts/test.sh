#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, starts the services the tests
# talk to (a private PulseAudio server, a D-Bus session bus) and runs every test.
#   scripts/test.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --build-dir build

# Services the integration tests use; each script does nothing when its service already runs.
if [ -x scripts/start-services.sh ]; then
  # shellcheck disable=SC1091
  source scripts/start-services.sh
  # Stop what was started here once the tests are done, whatever their outcome.
  trap 'if [ -n "${LUMENAR_SERVICES_PIDS:-}" ]; then kill $LUMENAR_SERVICES_PIDS 2>/dev/null || true; fi' EXIT
  # CI must exercise the real sound server: audio tests fail instead of skipping.
  if [ -n "${CI:-}" ]; then export LUMENAR_REQUIRE_PULSE=1; fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure -j "$jobs" "$@"
