# Sourced by the scripts that build or run the suite. MERVIK_BUILD_LOCK=FILE makes `locked CMD...` hold that
# lock (flock) while CMD runs, so that builds on a shared machine take turns; without it CMD just runs.
locked() {
    if [ -n "${MERVIK_BUILD_LOCK:-}" ]; then
        flock "$MERVIK_BUILD_LOCK" "$@"
    else
        "$@"
    fi
}
