// The owner of a precompiled header that the test programs reuse; it has no code of its own.
