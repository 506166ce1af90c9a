//go:build !windows

package ssw

import "errors"

// ErrNotWindows is what every call returns outside Windows, where there is no client DLL to call
// and no desktop of the kind it protects.
var ErrNotWindows = errors.New("ssw: the system state watchdog runs on Windows only")

func (r *Recorded) Close() {}

func ProtectDesktop(markerPath string, items Items, watchdogExe string) (*Protection, error) {
	return nil, ErrNotWindows
}

func ProtectDesktopWithin(markerPath string, items Items, watchdogExe string,
	waitForShellMs uint32) (*Protection, error) {
	return nil, ErrNotWindows
}

func (p *Protection) SessionID() (string, error) { return "", ErrNotWindows }

func (p *Protection) End() error { return ErrNotWindows }

func NewSessionID() (string, error) { return "", ErrNotWindows }

func RecordDesktop(markerPath string, items Items, sessionID string) (*Recorded, error) {
	return nil, ErrNotWindows
}

func RecordDesktopWithin(markerPath string, items Items, sessionID string,
	waitForShellMs uint32) (*Recorded, error) {
	return nil, ErrNotWindows
}

func WriteMarker(markerPath string, recorded *Recorded) error { return ErrNotWindows }

func StartWatchdog(watchdogExecutable, sessionID, markerPath string) error {
	return ErrNotWindows
}

func RestoreDesktop(recorded *Recorded) error { return ErrNotWindows }

func FinishCleanly(markerPath, sessionID string) (Status, error) { return Failed, ErrNotWindows }

func SettleLeftoverMarker(markerPath string) (Status, error) { return Failed, ErrNotWindows }

func SettleLeftoverMarkerWithin(markerPath string, waitForWatcherMs uint32) (Status, error) {
	return Failed, ErrNotWindows
}

func SettleLeftoverMarkerWaiting(markerPath string, waitForWatcherMs,
	waitForShellMs uint32) (Status, error) {
	return Failed, ErrNotWindows
}

func DiscardLeftoverMarker(markerPath string) (Status, error) { return Failed, ErrNotWindows }

func LibraryVersion() (string, error) { return "", ErrNotWindows }
