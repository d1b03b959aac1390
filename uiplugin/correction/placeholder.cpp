// Replaced by the correction engine sources.
