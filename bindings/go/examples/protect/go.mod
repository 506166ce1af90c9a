module example.com/protect

go 1.19

require github.com/system-state-watchdog/system-state-watchdog/bindings/go v1.0.0

// The module from a copy of its own: the release archive's bindings/go, or a checkout's.
replace github.com/system-state-watchdog/system-state-watchdog/bindings/go => ../..
