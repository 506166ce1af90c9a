module github.com/system-state-watchdog/system-state-watchdog/bindings/go

go 1.19
