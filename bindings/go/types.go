// Package ssw is the system state watchdog's client library for Go: protect the desktop before
// changing it, end the protection on a clean exit, and the watchdog puts the desktop back after a
// crash.
//
// It calls the C API of system-state-watchdog-client.dll, loaded on first use with
// syscall.NewLazyDLL: no cgo, so a GOOS=windows build needs no C toolchain. The DLL is looked for
// as LoadLibrary looks for it, the program's own folder first: ship it beside the program. Every
// call that can fail returns an error; a failure of the library itself is an *Error with its
// status and message, a DLL that cannot be loaded is the loader's error.
//
// The package builds on every platform, so that an application that runs elsewhere too builds
// and vets there: outside Windows every call returns ErrNotWindows.
package ssw

import "fmt"

// Status is the C API's ssw_status, with its numbers.
type Status int32

const (
	OK                 Status = 0
	Failed             Status = 1
	InvalidArgument    Status = 2
	MarkerUnsettled    Status = 3
	NoMarker           Status = 4
	LeftToLiveRun      Status = 5
	OtherSession       Status = 6
	LauncherFailed     Status = 7
	LauncherNotStarted Status = 8
	BufferTooSmall     Status = 9
)

var statusNames = [...]string{"ok", "failed", "invalid argument", "marker unsettled", "no marker",
	"left to live run", "other session", "launcher failed", "launcher not started",
	"buffer too small"}

func (s Status) String() string {
	if s >= 0 && int(s) < len(statusNames) {
		return statusNames[s]
	}
	return fmt.Sprintf("status %d", int32(s))
}

// Error is a failed call of the library: its status and its message (UTF-8, in Chinese like the
// recovery log).
type Error struct {
	Status  Status
	Message string
	// For LauncherFailed: whether the launcher ended, and with which exit code.
	LauncherEnded    bool
	LauncherExitCode uint32
}

func (e *Error) Error() string { return fmt.Sprintf("%v: %s", e.Status, e.Message) }

// Items names what to record, or-ed together.
type Items uint32

const (
	Taskbar      Items = 1
	DesktopIcons Items = 2
	Both               = Taskbar | DesktopIcons
)

// SessionIDSize holds any session id the library makes, its terminating zero included.
const SessionIDSize = 64

// Recorded is the desktop as recorded; Close releases it.
type Recorded struct{ handle uintptr }

// Protection is a protected run. Until it ends, the run counts as alive to every other instance.
type Protection struct{ handle uintptr }

// Close ends the protection as End does, for a deferred release.
func (p *Protection) Close() error { return p.End() }
