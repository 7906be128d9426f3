#!/bin/sh
# Runs Plinkard on a generated sample library: fills a "player" folder twice
# with a used-songs list, so that the second run picks other songs.
set -eu
build=${1:-build}
exec "$build/plinkard"
