// NXInternalStore (being written)
