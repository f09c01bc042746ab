#!/bin/bash
# The pick and the inspector on the event engine, whose synapses are read through
# the engine's lists, not the exact engine's records.
SCENE_ENGINE=event exec bash "$(dirname "$0")/scene_pick.sh" "$@"
