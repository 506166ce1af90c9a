//go:build windows

package ssw

import (
	"syscall"
	"unsafe"
)

var (
	client = syscall.NewLazyDLL("system-state-watchdog-client.dll")

	procNewSessionID                = client.NewProc("ssw_new_session_id")
	procRecordDesktop               = client.NewProc("ssw_record_desktop")
	procRecordedFree                = client.NewProc("ssw_recorded_free")
	procWriteMarker                 = client.NewProc("ssw_write_marker")
	procStartWatchdog               = client.NewProc("ssw_start_watchdog")
	procRestoreDesktop              = client.NewProc("ssw_restore_desktop")
	procFinishCleanly               = client.NewProc("ssw_finish_cleanly")
	procSettleLeftoverMarker        = client.NewProc("ssw_settle_leftover_marker")
	procDiscardLeftoverMarker       = client.NewProc("ssw_discard_leftover_marker")
	procSettleLeftoverMarkerWithin  = client.NewProc("ssw_settle_leftover_marker_within")
	procSettleLeftoverMarkerWaiting = client.NewProc("ssw_settle_leftover_marker_waiting")
	procRecordDesktopWithin         = client.NewProc("ssw_record_desktop_within")
	procProtectDesktop              = client.NewProc("ssw_protect_desktop")
	procProtectDesktopWithin        = client.NewProc("ssw_protect_desktop_within")
	procProtectionSessionID         = client.NewProc("ssw_protection_session_id")
	procEndProtection               = client.NewProc("ssw_end_protection")
	procLibraryVersion              = client.NewProc("ssw_library_version")
)

// The C API's own words for a text it cannot take, used for what cannot reach it either: a text
// with a zero inside.
const notAText = "参数为空或不是有效的 UTF-8"

// Room for every message the library writes; a longer one is cut between characters.
const messageSize = 2048

func text(value string) (*byte, error) {
	pointer, err := syscall.BytePtrFromString(value)
	if err != nil {
		return nil, &Error{Status: InvalidArgument, Message: notAText}
	}
	return pointer, nil
}

// optionalText is NULL for an empty text: the library's "beside this program".
func optionalText(value string) (*byte, error) {
	if value == "" {
		return nil, nil
	}
	return text(value)
}

func untilZero(buffer []byte) string {
	for i, b := range buffer {
		if b == 0 {
			return string(buffer[:i])
		}
	}
	return string(buffer)
}

// call passes a message buffer after the arguments; a status other than OK becomes an *Error.
// Its arguments are pointers converted where call is called, which keeps what they point to
// alive until it returns.
//
//go:uintptrescapes
func call(proc *syscall.LazyProc, arguments ...uintptr) error {
	if err := proc.Find(); err != nil {
		return err
	}
	message := make([]byte, messageSize)
	arguments = append(arguments, uintptr(unsafe.Pointer(&message[0])), uintptr(len(message)))
	result, _, _ := proc.Call(arguments...)
	if status := Status(int32(uint32(result))); status != OK {
		return &Error{Status: status, Message: untilZero(message)}
	}
	return nil
}

func statusOf(err error) Status {
	if libraryError, ok := err.(*Error); ok {
		return libraryError.Status
	}
	return Failed
}

//go:uintptrescapes
func sessionID(proc *syscall.LazyProc, first ...uintptr) (string, error) {
	if err := proc.Find(); err != nil {
		return "", err
	}
	buffer := make([]byte, SessionIDSize)
	arguments := append(first, uintptr(unsafe.Pointer(&buffer[0])), uintptr(len(buffer)))
	result, _, _ := proc.Call(arguments...)
	if status := Status(int32(uint32(result))); status != OK {
		return "", &Error{Status: status}
	}
	return untilZero(buffer), nil
}

// Close releases the recorded state; calling it again does nothing.
func (r *Recorded) Close() {
	if r.handle != 0 {
		procRecordedFree.Call(r.handle)
		r.handle = 0
	}
}

// ProtectDesktop does everything the start needs: settles a marker left behind, makes a new
// session, records the items, writes the marker and starts the watchdog (watchdogExe empty:
// system-state-watchdog.exe beside this program). A failure after the marker was written
// removes it again.
func ProtectDesktop(markerPath string, items Items, watchdogExe string) (*Protection, error) {
	marker, err := text(markerPath)
	if err != nil {
		return nil, err
	}
	watchdog, err := optionalText(watchdogExe)
	if err != nil {
		return nil, err
	}
	var handle uintptr
	err = call(procProtectDesktop, uintptr(unsafe.Pointer(marker)), uintptr(items),
		uintptr(unsafe.Pointer(watchdog)),
		uintptr(unsafe.Pointer(&handle)))
	if err != nil {
		return nil, err
	}
	return &Protection{handle: handle}, nil
}

// ProtectDesktopWithin is ProtectDesktop (which waits at most 10 s for the shell's windows),
// waiting at most waitForShellMs for the shell to put them up: a start at logon may come first.
func ProtectDesktopWithin(markerPath string, items Items, watchdogExe string,
	waitForShellMs uint32) (*Protection, error) {
	marker, err := text(markerPath)
	if err != nil {
		return nil, err
	}
	watchdog, err := optionalText(watchdogExe)
	if err != nil {
		return nil, err
	}
	var handle uintptr
	err = call(procProtectDesktopWithin, uintptr(unsafe.Pointer(marker)), uintptr(items),
		uintptr(unsafe.Pointer(watchdog)), uintptr(waitForShellMs),
		uintptr(unsafe.Pointer(&handle)))
	if err != nil {
		return nil, err
	}
	return &Protection{handle: handle}, nil
}

// SessionID is the protected run's session id.
func (p *Protection) SessionID() (string, error) {
	return sessionID(procProtectionSessionID, p.handle)
}

// End is the clean exit: restores the recorded items, then removes the marker (it stays when the
// restore failed, for the watchdog or the next start). The protection is released in every
// case; calling End again does nothing.
func (p *Protection) End() error {
	if p.handle == 0 {
		return nil
	}
	handle := p.handle
	p.handle = 0
	return call(procEndProtection, handle)
}

// NewSessionID is a session id that no other run has had.
func NewSessionID() (string, error) { return sessionID(procNewSessionID) }

// RecordDesktop records the named items now; it refuses (MarkerUnsettled) while a marker is at
// the path.
func RecordDesktop(markerPath string, items Items, sessionID string) (*Recorded, error) {
	marker, err := text(markerPath)
	if err != nil {
		return nil, err
	}
	session, err := text(sessionID)
	if err != nil {
		return nil, err
	}
	var handle uintptr
	err = call(procRecordDesktop, uintptr(unsafe.Pointer(marker)), uintptr(items),
		uintptr(unsafe.Pointer(session)),
		uintptr(unsafe.Pointer(&handle)))
	if err != nil {
		return nil, err
	}
	return &Recorded{handle: handle}, nil
}

// RecordDesktopWithin is RecordDesktop once the shell shows the items, waiting at most
// waitForShellMs.
func RecordDesktopWithin(markerPath string, items Items, sessionID string,
	waitForShellMs uint32) (*Recorded, error) {
	marker, err := text(markerPath)
	if err != nil {
		return nil, err
	}
	session, err := text(sessionID)
	if err != nil {
		return nil, err
	}
	var handle uintptr
	err = call(procRecordDesktopWithin, uintptr(unsafe.Pointer(marker)), uintptr(items),
		uintptr(unsafe.Pointer(session)), uintptr(waitForShellMs),
		uintptr(unsafe.Pointer(&handle)))
	if err != nil {
		return nil, err
	}
	return &Recorded{handle: handle}, nil
}

// WriteMarker writes the marker without ever leaving half of one at the path.
func WriteMarker(markerPath string, recorded *Recorded) error {
	marker, err := text(markerPath)
	if err != nil {
		return err
	}
	return call(procWriteMarker, uintptr(unsafe.Pointer(marker)), recorded.handle)
}

// StartWatchdog starts the watchdog for this process and waits for its launcher
// (watchdogExecutable empty: beside this program).
func StartWatchdog(watchdogExecutable, sessionID, markerPath string) error {
	watchdog, err := optionalText(watchdogExecutable)
	if err != nil {
		return err
	}
	session, err := text(sessionID)
	if err != nil {
		return err
	}
	marker, err := text(markerPath)
	if err != nil {
		return err
	}
	const notEnded = ^uint32(0)
	exitCode := notEnded
	err = call(procStartWatchdog, uintptr(unsafe.Pointer(watchdog)),
		uintptr(unsafe.Pointer(session)), uintptr(unsafe.Pointer(marker)),
		uintptr(unsafe.Pointer(&exitCode)))
	if libraryError, ok := err.(*Error); ok && exitCode != notEnded {
		libraryError.LauncherEnded, libraryError.LauncherExitCode = true, exitCode
	}
	return err
}

// RestoreDesktop puts back in this process what was recorded, for a clean exit.
func RestoreDesktop(recorded *Recorded) error {
	return call(procRestoreDesktop, recorded.handle)
}

// FinishCleanly removes the marker after a clean exit, only while it holds this session. A
// missing marker and another session's (left as it is) are outcomes, not errors.
func FinishCleanly(markerPath, sessionID string) (Status, error) {
	marker, err := text(markerPath)
	if err != nil {
		return InvalidArgument, err
	}
	session, err := text(sessionID)
	if err != nil {
		return InvalidArgument, err
	}
	err = call(procFinishCleanly, uintptr(unsafe.Pointer(marker)), uintptr(unsafe.Pointer(session)))
	return outcome(err, NoMarker, OtherSession)
}

// SettleLeftoverMarker restores a marker left behind, as the watchdog would have (waiting up to
// 10 s for a watcher still restoring it); NoMarker is an outcome, not an error.
func SettleLeftoverMarker(markerPath string) (Status, error) {
	marker, err := text(markerPath)
	if err != nil {
		return InvalidArgument, err
	}
	return outcome(call(procSettleLeftoverMarker, uintptr(unsafe.Pointer(marker))), NoMarker)
}

// SettleLeftoverMarkerWithin is SettleLeftoverMarker waiting at most waitForWatcherMs.
func SettleLeftoverMarkerWithin(markerPath string, waitForWatcherMs uint32) (Status, error) {
	marker, err := text(markerPath)
	if err != nil {
		return InvalidArgument, err
	}
	return outcome(call(procSettleLeftoverMarkerWithin, uintptr(unsafe.Pointer(marker)),
		uintptr(waitForWatcherMs)),
		NoMarker)
}

// SettleLeftoverMarkerWaiting is SettleLeftoverMarkerWithin, waiting at most waitForShellMs for
// the shell to put up the windows the marker records (10 s in the other two).
func SettleLeftoverMarkerWaiting(markerPath string, waitForWatcherMs,
	waitForShellMs uint32) (Status, error) {
	marker, err := text(markerPath)
	if err != nil {
		return InvalidArgument, err
	}
	return outcome(call(procSettleLeftoverMarkerWaiting, uintptr(unsafe.Pointer(marker)),
		uintptr(waitForWatcherMs), uintptr(waitForShellMs)),
		NoMarker)
}

// DiscardLeftoverMarker deletes a marker that cannot be settled, by the caller's explicit
// choice, and logs it; NoMarker is an outcome, not an error.
func DiscardLeftoverMarker(markerPath string) (Status, error) {
	marker, err := text(markerPath)
	if err != nil {
		return InvalidArgument, err
	}
	return outcome(call(procDiscardLeftoverMarker, uintptr(unsafe.Pointer(marker))), NoMarker)
}

// outcome turns the statuses that are outcomes of a call into values.
func outcome(err error, outcomes ...Status) (Status, error) {
	if err == nil {
		return OK, nil
	}
	for _, status := range outcomes {
		if statusOf(err) == status {
			return status, nil
		}
	}
	return statusOf(err), err
}

// LibraryVersion is the version of the client DLL the program runs with, "major.minor.patch",
// for its log.
func LibraryVersion() (string, error) {
	if err := procLibraryVersion.Find(); err != nil {
		return "", err
	}
	address, _, _ := procLibraryVersion.Call()
	// The text lies in the DLL's own data, which the garbage collector neither moves nor frees.
	text := *(**byte)(unsafe.Pointer(&address))
	version := []byte{}
	for ; *text != 0; text = (*byte)(unsafe.Add(unsafe.Pointer(text), 1)) {
		version = append(version, *text)
	}
	return string(version), nil
}
