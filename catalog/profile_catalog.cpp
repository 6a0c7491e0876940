// The profile catalog.
