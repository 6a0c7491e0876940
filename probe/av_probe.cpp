// The media prober.
